#include "OZRegIniDlg.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace nolvi2 {

TOZIniStyleDialog::TOZIniStyleDialog(QWidget* owner)
{
    if (owner)
        setParent(owner, windowFlags());
    setWindowTitle(QStringLiteral("アプリケーション設定の保存先"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    rdoIni = new QRadioButton(QStringLiteral("&INIファイルを使う"), this);
    Label4 = new QLabel(QStringLiteral("マルチユーザー環境には対応しませんが、アンインストールが簡単です。"
                                       "シングルユーザー環境ではこちらをお勧めします。"),
                        this);
    rdoRegistry = new QRadioButton(QStringLiteral("レジストリを使う(&R)"), this);
    Label5 = new QLabel(QStringLiteral("マルチユーザー環境ではこちらをお勧めします。設定はレジストリの下記の位置に保存されます。"
                                       "アンインストールの時は必要に応じてこのキーを削除して下さい。"),
                        this);
    lblKeyPath = new QLabel(this);
    lblKeyPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblKeyPath->setTextFormat(Qt::PlainText);
    for (QLabel* l : {Label4, Label5}) {
        l->setWordWrap(true);
        l->installEventFilter(this);
    }
    auto* group = new QButtonGroup(this);
    group->addButton(rdoIni);
    group->addButton(rdoRegistry);

    Button2 = new QPushButton(QStringLiteral("OK"), this);
    Button3 = new QPushButton(QStringLiteral("キャンセル"), this);
    Button2->setDefault(true);
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button3, &QPushButton::clicked, this, &QDialog::reject);

    // The explanations sit under their buttons, indented to the buttons' text.
    const int indent = rdoIni->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                       rdoIni->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(rdoIni);
    auto* l4 = new QHBoxLayout;
    l4->addSpacing(indent);
    l4->addWidget(Label4);
    layout->addLayout(l4);
    layout->addSpacing(8);
    layout->addWidget(rdoRegistry);
    auto* l5 = new QVBoxLayout;
    l5->addWidget(Label5);
    l5->addWidget(lblKeyPath);
    auto* l5Indent = new QHBoxLayout;
    l5Indent->addSpacing(indent);
    l5Indent->addLayout(l5);
    layout->addLayout(l5Indent);
    layout->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button2);
    buttons->addWidget(Button3);
    layout->addLayout(buttons);
    // 472 wide; as high as the wrapped explanations need in the dialog font, at least 208.
    const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(472) : layout->totalSizeHint().height();
    setFixedSize(472, std::max(208, height));
}

bool TOZIniStyleDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label4)
            Label4Click();
        else if (watched == Label5)
            Label5Click();
    }
    return TOZVistaDialog::eventFilter(watched, event);
}

bool TOZIniStyleDialog::Execute(QWidget* owner, const QString& keyPathText, TIniStyle& style)
{
    TOZIniStyleDialog dialog(owner);
    dialog.lblKeyPath->setText(keyPathText);
    (style == isIniFile ? dialog.rdoIni : dialog.rdoRegistry)->setChecked(true);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    if (dialog.rdoIni->isChecked())
        style = isIniFile;
    else if (dialog.rdoRegistry->isChecked())
        style = isRegistry;
    return true;
}

}  // namespace nolvi2
