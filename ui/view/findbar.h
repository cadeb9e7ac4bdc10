// The find bar under the layout (Ctrl+F): typing part of a server name, an address or a map selects the
// first object that shows it, scrolls to it and frames every match; Enter and Shift+Enter step through
// the matches, Escape closes the bar.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "document/document.h"

class QLabel;
class QLineEdit;

namespace orv {

class COrvaneView;

// The placed objects whose server name, address or map (a GTV proxy: a room's) holds the text, ignoring
// case, in the order of the object list.
std::vector<CCommonObject*> FindObjects(const COrvaneDoc& doc, const QString& text);

class CFindBar : public QWidget {
    Q_OBJECT
public:
    CFindBar(COrvaneDoc& doc, COrvaneView& view, QWidget* parent = nullptr);

    const std::vector<CCommonObject*>& Matches() const { return m_matches; }
    QLineEdit* Edit() const { return m_edit; }

public slots:
    // Shows the bar with its text selected and the keyboard in it.
    void Open();
    void Close();
    // The next (1) or previous (-1) match, round the ends.
    void Step(int direction);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Finds the matches again; select: the first becomes the selection and is scrolled to.
    void Search(bool select);
    void SelectCurrent();
    void ShowCount();

    COrvaneDoc& m_doc;
    COrvaneView& m_view;
    QLineEdit* m_edit;
    QLabel* m_count;
    std::vector<CCommonObject*> m_matches;
    int m_current = -1;
};

}  // namespace orv
