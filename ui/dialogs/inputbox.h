// The small modal input box: a prompt and one line of text, OK and Cancel, caption "Orvane".
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QLineEdit;

namespace orv {

class CInputBox : public QDialog {
    Q_OBJECT
public:
    CInputBox(const QString& prompt, const QString& initial, QWidget* parent = nullptr);

    QString Value() const;

    // Shows the box; the text on OK, nothing on Cancel.
    static std::optional<QString> Ask(QWidget* parent, const QString& prompt, const QString& initial);

private:
    QLineEdit* m_value;
};

}  // namespace orv
