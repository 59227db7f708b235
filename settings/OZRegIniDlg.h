#pragma once
// The dialog that chooses where the settings are kept, and the user's command around it.

#include "OZIniFile2.h"
#include "common/OZVista.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include <functional>

namespace nolvi2 {

class TOZIniStyleDialog : public TOZVistaDialog {
    Q_OBJECT
public:
    explicit TOZIniStyleDialog(QWidget* owner = nullptr);

    // Shows the choice starting at style, with keyPathText under the key store's choice;
    // on OK sets style and returns true.
    static bool Execute(QWidget* owner, const QString& keyPathText, TIniStyle& style);

    QRadioButton* rdoIni = nullptr;
    QLabel* Label4 = nullptr;
    QRadioButton* rdoRegistry = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* lblKeyPath = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Label4Click() { rdoIni->setChecked(true); }
    void Label5Click() { rdoRegistry->setChecked(true); }
};

}  // namespace nolvi2
