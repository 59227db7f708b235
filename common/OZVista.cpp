#include "OZVista.h"

#include "common/OZCommon.h"

#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTextLayout>

#include <array>

// The icon's pictures are compiled into the program's static library, whose resource
// initialiser nothing else refers to: register them by hand (a global-namespace name).
static void InitProgramIconResource() { Q_INIT_RESOURCE(nolvi2); }

namespace nolvi2 {

namespace {

QString& TitleStore()
{
    static QString title = QStringLiteral("nolvi2");
    return title;
}

QWidget* gTaskBarOwner = nullptr;

struct ButtonInfo {
    const char* name;
    const char* caption;
    int result;
};

constexpr std::array<ButtonInfo, 11> kButtons = {{
    {"Yes", "はい(&Y)", mrYes},
    {"No", "いいえ(&N)", mrNo},
    {"OK", "OK", mrOk},
    {"Cancel", "キャンセル", mrCancel},
    {"Abort", "中止(&A)", mrAbort},
    {"Retry", "再試行(&R)", mrRetry},
    {"Ignore", "無視(&I)", mrIgnore},
    {"All", "すべて(&A)", mrAll},
    {"NoToAll", "すべていいえ(&O)", mrNoToAll},
    {"YesToAll", "すべてはい(&A)", mrYesToAll},
    {"Help", "ヘルプ(&H)", mrNone},
}};

struct KindInfo {
    const char* caption;
    QStyle::StandardPixmap icon;
    bool hasIcon;
};

constexpr std::array<KindInfo, 5> kKinds = {{
    {"警告", QStyle::SP_MessageBoxWarning, true},
    {"エラー", QStyle::SP_MessageBoxCritical, true},
    {"情報", QStyle::SP_MessageBoxInformation, true},
    {"確認", QStyle::SP_MessageBoxQuestion, true},
    {nullptr, QStyle::SP_CustomBase, false},
}};

bool Has(TMsgDlgButtons set, TMsgDlgBtn b) { return (set >> b) & 1u; }

// Integer multiply-divide, as the layout rules are given.
int MulDiv(int a, int b, int c) { return int((int64_t(a) * b) / c); }

// The text broken into lines no wider than width: at word boundaries where it can be, and
// anywhere inside a word that is wider than a whole line (a long file name or path), which
// plain word wrapping would leave sticking out of the box.
QString BreakLines(const QString& text, const QFont& font, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        if (paragraph.isEmpty()) {
            lines.push_back(paragraph);
            continue;
        }
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            QString part = paragraph.mid(line.textStart(), line.textLength());
            while (!part.isEmpty() && part.back().isSpace())  // the space a line breaks at
                part.chop(1);
            lines.push_back(part);
        }
        layout.endLayout();
    }
    return lines.join(QLatin1Char('\n'));
}

// In the middle of the screen's available area, and inside it: a box larger than the area
// keeps its top-left corner (its caption and the start of its text) in view.
void PlaceOnScreen(QWidget& form)
{
    const QScreen* screen = form.screen() ? form.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const auto place = [](int start, int extent, int size) {
        const int centred = start + (extent - size) / 2;
        return std::max(start, std::min(centred, start + extent - size));
    };
    form.move(place(area.left(), area.width(), form.width()), place(area.top(), area.height(), form.height()));
}

}  // namespace

QString ApplicationTitle() { return TitleStore(); }
void SetApplicationTitle(const QString& title) { TitleStore() = title; }

void KeepToolkitSettingsUnwritten()
{
    // /dev/null is no folder and none can be made in it, by the superuser neither: QSettings
    // then finds nothing to read and fails to write, silently. The program's own settings do
    // not go through QSettings.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
}

TOZVistaForm::TOZVistaForm(QWidget* parent) : QWidget(parent)
{
    if (!gTaskBarOwner)
        gTaskBarOwner = this;
}

TOZVistaForm::~TOZVistaForm()
{
    if (gTaskBarOwner == this)
        gTaskBarOwner = nullptr;
}

QWidget* TOZVistaForm::TaskBarOwner() { return gTaskBarOwner; }

TOZVistaDialog::TOZVistaDialog() : QDialog(TOZVistaForm::TaskBarOwner()) {}

QSize AverageCharSize(const QFont& font)
{
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {width / 52, fm.height()};
}

void TOZVistaMessageForm::keyPressEvent(QKeyEvent* event)
{
    if (!(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        for (QPushButton* b : findChildren<QPushButton*>()) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(b->text());
            if (!mnemonic.isEmpty() && mnemonic[0].key() == Qt::Key(event->key())) {
                b->animateClick();
                return;
            }
        }
    }
    QDialog::keyPressEvent(event);
}

void TOZVistaMessageForm::reject()
{
    // Escape and the close box choose the cancel button; without one they do nothing.
    if (auto* cancel = qobject_cast<QPushButton*>(FCancel))
        cancel->click();
}

std::unique_ptr<TOZVistaMessageForm> CreateMessageBox(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons,
                                                      bool taskBar)
{
    QWidget* owner = TOZVistaForm::TaskBarOwner();
    auto form = std::make_unique<TOZVistaMessageForm>(owner);
    form->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const QFont font = form->font();
    const QSize avg = AverageCharSize(font);
    const int X = avg.width(), Y = avg.height();

    const int hMargin = MulDiv(8, X, 4), vMargin = MulDiv(8, Y, 8);
    const int hSpacing = MulDiv(10, X, 4), vSpacing = MulDiv(10, Y, 8);
    const int buttonHeight = MulDiv(14, Y, 8), buttonSpacing = MulDiv(4, X, 4);
    const QFontMetrics fm(font);

    int buttonWidth = MulDiv(50, X, 4);
    int buttonCount = 0;
    for (std::size_t i = 0; i < kButtons.size(); ++i)
        if (Has(buttons, TMsgDlgBtn(i))) {
            ++buttonCount;
            const QString caption = QString::fromUtf8(kButtons[i].caption).remove(QLatin1Char('&'));
            buttonWidth = std::max(buttonWidth, fm.horizontalAdvance(caption) + 8);
        }

    // A carriage return in a message breaks the line.
    QString message = text;
    message.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->geometry().width() : 1024;
    message = BreakLines(message, font, std::max(screenWidth / 2, 1));
    const QRect textRect = fm.boundingRect(QRect(0, 0, 100000, 100000), 0, message);
    const KindInfo& info = kKinds[std::min<int>(kind, 4)];
    int textWidth = textRect.width(), textHeight = textRect.height();
    int contentWidth = textWidth;
    if (info.hasIcon) {
        contentWidth += 32 + hSpacing;
        textHeight = std::max(textHeight, 32);
    }
    const int buttonsWidth = buttonWidth * buttonCount + buttonSpacing * std::max(buttonCount - 1, 0);
    const int clientWidth = std::max(contentWidth, buttonsWidth) + 2 * hMargin;
    const int clientHeight = textHeight + buttonHeight + vSpacing + 2 * vMargin;
    form->setFixedSize(clientWidth, clientHeight);

    form->setWindowTitle(taskBar || kind == mtCustom || !info.caption ? ApplicationTitle()
                                                                      : QString::fromUtf8(info.caption));
    int textLeft = hMargin;
    if (info.hasIcon) {
        auto* image = new QLabel(form.get());
        image->setObjectName(QStringLiteral("Image"));
        image->setPixmap(form->style()->standardIcon(info.icon).pixmap(32, 32));
        image->setGeometry(hMargin, vMargin, 32, 32);
        textLeft += 32 + hSpacing;
    }
    // The lines are broken already; a message is never read as markup.
    auto* label = new QLabel(message, form.get());
    label->setObjectName(QStringLiteral("Message"));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(textLeft, vMargin, textWidth + 1, textRect.height());

    int x = (clientWidth - buttonsWidth) / 2;
    const int y = vMargin + textHeight + vSpacing;
    QPushButton* byButton[kButtons.size()] = {};
    for (std::size_t i = 0; i < kButtons.size(); ++i) {
        if (!Has(buttons, TMsgDlgBtn(i)))
            continue;
        auto* b = new QPushButton(QString::fromUtf8(kButtons[i].caption), form.get());
        b->setObjectName(QString::fromLatin1(kButtons[i].name));
        b->setGeometry(x, y, buttonWidth, buttonHeight);
        b->setAutoDefault(false);
        const int result = kButtons[i].result;
        if (result != mrNone)
            QObject::connect(b, &QPushButton::clicked, form.get(), [f = form.get(), result] { f->done(result); });
        byButton[i] = b;
        x += buttonWidth + buttonSpacing;
    }
    QPushButton* def = byButton[mbOK] ? byButton[mbOK] : byButton[mbYes] ? byButton[mbYes] : byButton[mbRetry];
    QPushButton* cancel = byButton[mbCancel] ? byButton[mbCancel] : byButton[mbNo] ? byButton[mbNo] : byButton[mbOK];
    if (def) {
        def->setDefault(true);
        def->setFocus();
    }
    form->SetButtons(def, cancel);
    PlaceOnScreen(*form);
    return form;
}

int ShowMessageBox(const QString& text, TMsgDlgType kind, TMsgDlgButtons buttons, bool taskBar)
{
    return CreateMessageBox(text, kind, buttons, taskBar)->exec();
}

QIcon ProgramIcon()
{
    static const bool registered = (InitProgramIconResource(), true);
    (void)registered;
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/nolvi2-%1.png").arg(size), QSize(size, size));
    return icon;
}

std::unique_ptr<TOZVistaMessageForm> CreateAboutBox()
{
    auto box = CreateMessageBox(QString::fromStdString(AboutBoxText()), mtInformation, Buttons({mbOK}));
    box->setWindowTitle(QString::fromStdString(AboutBoxCaption(ApplicationTitle().toStdString())));
    if (auto* image = box->findChild<QLabel*>(QStringLiteral("Image")))
        image->setPixmap(ProgramIcon().pixmap(32, 32));
    return box;
}

void ShowAboutBox() { CreateAboutBox()->exec(); }

}  // namespace nolvi2
