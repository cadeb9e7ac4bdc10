// A modal dialog that collects values: accept() closes only when Collect() accepts the fields, and Run()
// returns the values, or nothing on Cancel. The caller applies them; no dialog reaches into the document.
#pragma once

#include <QDialog>
#include <optional>

namespace orv {

template <class V>
class CValuesDialog : public QDialog {
public:
    using QDialog::QDialog;

    std::optional<V> Run() {
        m_result.reset();
        if (exec() != QDialog::Accepted) return std::nullopt;
        return m_result;
    }

    void accept() override {
        if (auto values = Collect()) {
            m_result = std::move(values);
            QDialog::accept();
        }
    }

protected:
    // The values, or nothing to keep the dialog open (after telling the operator why).
    virtual std::optional<V> Collect() = 0;

private:
    std::optional<V> m_result;
};

}  // namespace orv
