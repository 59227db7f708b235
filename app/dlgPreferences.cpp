#include "dlgPreferences.h"

#include "nolviSub.h"
#include "settings/OZHistoryList.h"
#include "susie/SPIs.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace nolvi2 {

namespace {

// The selection grids in the order of their buttons; the first stands for no grid.
constexpr uint8_t kUnits[] = {1, 8, 16, 24, 32};

// The button of a grid; a grid without a button of its own shows as none.
int UnitIndex(uint8_t unit)
{
    for (int i = 1; i < int(std::size(kUnits)); ++i)
        if (kUnits[i] == unit)
            return i;
    return 0;
}

// A widget of the given object name, made from args.
template <class T, class... Args>
T* Named(const char* name, Args&&... args)
{
    auto* w = new T(std::forward<Args>(args)...);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// Lays widgets out one under the other at the top of page.
void Column(QWidget* page, std::initializer_list<QWidget*> widgets)
{
    auto* layout = new QVBoxLayout(page);
    for (QWidget* w : widgets)
        layout->addWidget(w);
    layout->addStretch();
}

QString FirstText(const std::vector<std::string>& list) { return list.empty() ? QString() : Text(list.front()); }

// Checks the button of index, or none when there is no such button.
void CheckButton(QButtonGroup* group, int index)
{
    if (QAbstractButton* b = group->button(index)) {
        b->setChecked(true);
        return;
    }
    if (QAbstractButton* checked = group->checkedButton()) {
        group->setExclusive(false);
        checked->setChecked(false);
        group->setExclusive(true);
    }
}

// A spin box that also takes the digits of other scripts as digits: the full-width "２０" that
// a Japanese input method gives is 20.
class TNumberSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

    static void AsciiDigits(QString& text)
    {
        for (QChar& c : text)
            if (c.unicode() > 0x7F && c.isDigit())
                c = QChar(u'0' + c.digitValue());
    }

protected:
    // The editor keeps the text as validate leaves it, so it shows ASCII digits at once.
    QValidator::State validate(QString& text, int& pos) const override
    {
        AsciiDigits(text);
        return QSpinBox::validate(text, pos);
    }
    int valueFromText(const QString& text) const override
    {
        QString ascii = text;
        AsciiDigits(ascii);
        return QSpinBox::valueFromText(ascii);
    }
};

// Tab enters a radio group at its checked button (the first when none is) and leaves it with
// the next Tab; the arrow keys move within the group, as they do without this.
void TabToCheckedButton(QButtonGroup* group)
{
    const auto update = [group] {
        const QList<QAbstractButton*> buttons = group->buttons();
        QAbstractButton* entry = group->checkedButton();
        if (!entry && !buttons.isEmpty())
            entry = buttons.front();
        for (QAbstractButton* b : buttons)
            b->setFocusPolicy(b == entry ? Qt::StrongFocus : Qt::ClickFocus);
    };
    QObject::connect(group, &QButtonGroup::buttonToggled, group, update);
    update();
}

// Fills box with radio buttons for items, column by column over the given number of columns
// (as many rows as that needs); the returned group numbers them from 0.
QButtonGroup* FillRadioGroup(QGroupBox* box, std::initializer_list<const char*> items, int columns)
{
    auto* group = new QButtonGroup(box);
    auto* grid = new QGridLayout(box);
    const int rows = (int(items.size()) + columns - 1) / columns;
    int i = 0;
    for (const char* item : items) {
        auto* r = new QRadioButton(QString::fromUtf8(item), box);
        group->addButton(r, i);
        grid->addWidget(r, i % rows, i / rows);
        ++i;
    }
    for (int c = 0; c < columns; ++c)
        grid->setColumnStretch(c, 1);
    TabToCheckedButton(group);
    return group;
}

// A spin box from min to max (not wrapping) at the left of box.
QSpinBox* FillSpinGroup(QGroupBox* box, const char* name, int min, int max)
{
    QSpinBox* spin = Named<TNumberSpinBox>(name, box);
    spin->setRange(min, max);
    spin->setWrapping(false);
    auto* layout = new QHBoxLayout(box);
    layout->addWidget(spin);
    layout->addStretch();
    return spin;
}

QWidget* AddPage(QTabWidget* pages, const char* name, const QString& caption)
{
    auto* page = Named<QWidget>(name, pages);
    pages->addTab(page, caption);
    return page;
}

}  // namespace


TPreferencesDialog::TPreferencesDialog(QWidget* owner)
{
    if (owner)
        setParent(owner, windowFlags());
    setWindowTitle(QStringLiteral("設定"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    PageControl1 = Named<QTabWidget>("PageControl1", this);
    // Every page's tab stays in sight: the dialog grows rather than scroll them.
    PageControl1->setUsesScrollButtons(false);

    // 一般: the explanations sit under the check box they explain, indented to its text.
    QWidget* general = AddPage(PageControl1, "TabSheet1", QStringLiteral("一般"));
    const auto check = [general](const char* name, const QString& caption) {
        return Named<QCheckBox>(name, caption, general);
    };
    const auto memo = [general](const char* name, const QString& text) {
        auto* m = Named<QLabel>(name, text, general);
        m->setTextFormat(Qt::PlainText);
        m->setWordWrap(true);
        m->setFocusPolicy(Qt::NoFocus);
        m->setEnabled(false);
        return m;
    };
    chkWindowResizeByZoom = check("chkWindowResizeByZoom", QStringLiteral("ズーム時にウィンドウサイズを調整する(&Z)"));
    chkInvertTenohiraTool = check("chkInvertTenohiraTool", QStringLiteral("手のひらツールの方向をPhotoshopと逆にする(&I)"));
    Memo1 = memo("Memo1", QStringLiteral("画像がウィンドウ内に表示しきれない場合（スクロールバーが表示されている時）、"
                                         "スペースキーを押しながら画像をドラッグすることでスクロールすることが出来ます"
                                         "。Photoshopのように、マウスを動かした方向と反対が表示される（ドラッグする感覚）"
                                         "ようにする場合はオフ、逆にマウスを動かした方向にスクロールさせる場合はオンに"
                                         "して下さい。"));
    chkOpenResultNewWindow = check("chkOpenResultNewWindow", QStringLiteral("処理結果を新しいウィンドウで開く(&N)"));
    Memo2 = memo("Memo2", QStringLiteral("nolvi2には「元に戻す」機能がありません。その代わりこの設定をオンにしておくこと"
                                         "によって、常に処理結果が新しいウィンドウで開かれるので、ウィンドウを閉じない限"
                                         "り処理前の状態を参照できます。"));
    chkShowProcessingTime = check("chkShowProcessingTime", QStringLiteral("処理にかかった時間を表示する(&T)"));
    chkApplyColorProfile = check("chkApplyColorProfile", QStringLiteral("埋め込みカラープロファイルを適用する(&C)"));
    chkAutoRotate = check("chkAutoRotate", QStringLiteral("Exif の回転情報に従う(&E)"));
    chkPreloadNeighbours = check("chkPreloadNeighbours", QStringLiteral("前後の画像を先読みする(&P)"));
    const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, chkInvertTenohiraTool) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, chkInvertTenohiraTool);
    auto* generalLayout = new QVBoxLayout(general);
    for (QWidget* w : std::initializer_list<QWidget*>{chkWindowResizeByZoom, chkInvertTenohiraTool, Memo1,
                                                      chkOpenResultNewWindow, Memo2, chkShowProcessingTime,
                                                      chkApplyColorProfile, chkAutoRotate, chkPreloadNeighbours}) {
        if (qobject_cast<QLabel*>(w)) {
            auto* indented = new QHBoxLayout;
            indented->addSpacing(indent);
            indented->addWidget(w);
            generalLayout->addLayout(indented);
        } else {
            generalLayout->addWidget(w);
        }
    }
    generalLayout->addStretch();

    // 範囲選択
    QWidget* selection = AddPage(PageControl1, "TabSheet4", QStringLiteral("範囲選択"));
    rdoSelectUnit = Named<QGroupBox>("rdoSelectUnit", QStringLiteral("選択時の最小単位"), selection);
    SelectUnitButtons = FillRadioGroup(
        rdoSelectUnit, {"&なし（1ピクセル）", "&8ピクセル", "&16ピクセル", "&24ピクセル", "&32ピクセル"}, 3);
    rdoOutOfSelection = Named<QGroupBox>("rdoOutOfSelection", QStringLiteral("選択されていない範囲"), selection);
    OutOfSelectionButtons = FillRadioGroup(rdoOutOfSelection, {"そのまま(&N)", "暗くする(&D)", "明るくする(&L)"}, 2);
    Column(selection, {rdoSelectUnit, rdoOutOfSelection});

    // 最近開いたファイル: the clearing buttons change the list at once.
    QWidget* recent = AddPage(PageControl1, "TabSheet2", QStringLiteral("最近開いたファイル"));
    auto* groupBox1 = Named<QGroupBox>("GroupBox1", QStringLiteral("最近開いたファイルの数(&R)"), recent);
    // The counts the list keeps: none to all of the menu's items.
    updRecentFileCount = FillSpinGroup(groupBox1, "updRecentFileCount", 0, TOZHistoryList::kItemCount);
    auto* clearing = new QWidget(recent);
    Button3 = Named<QPushButton>("Button3", QStringLiteral("クリア(&C)"), clearing);
    Button4 = Named<QPushButton>("Button4", QStringLiteral("存在しないファイルをクリア(&N)"), clearing);
    connect(Button3, &QPushButton::clicked, this, [this] {
        if (FRecent)
            FRecent->Clear();
    });
    connect(Button4, &QPushButton::clicked, this, [this] {
        if (FRecent)
            FRecent->ClearMissing();
    });
    auto* clearingRow = new QHBoxLayout(clearing);
    clearingRow->setContentsMargins(0, 0, 0, 0);
    clearingRow->addWidget(Button3);
    clearingRow->addWidget(Button4);
    clearingRow->addStretch();
    Column(recent, {groupBox1, clearing});

    // 可逆マスク
    QWidget* masks = AddPage(PageControl1, "TabSheet3", QStringLiteral("可逆マスク"));
    auto* groupBox2 = Named<QGroupBox>("GroupBox2", QStringLiteral("ガラス処理の一列の幅(&G)"), masks);
    updGrassWidth = FillSpinGroup(groupBox2, "updGrassWidth", 2, 32);
    auto* groupBox3 = Named<QGroupBox>("GroupBox3", QStringLiteral("虹色マスクのサイズ(&N)"), masks);
    updRainbowMaskSize = FillSpinGroup(groupBox3, "updRainbowMaskSize", 2, 32);
    Column(masks, {groupBox2, groupBox3});

    // Susie Plug-in: a read-only report of the registry.
    QWidget* plugins = AddPage(PageControl1, "TabSheet5", QStringLiteral("Susie Plug-in"));
    ListView1 = Named<QTreeWidget>("ListView1", plugins);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("About"), QStringLiteral("Ext"), QStringLiteral("Format")});
    ListView1->header()->setSectionsClickable(false);
    ListView1->header()->setSectionsMovable(false);
    ListView1->header()->setStretchLastSection(false);
    // The columns share the list's width (FitPluginColumns); a text cut short keeps its ends,
    // and every cell tells its whole text as a tooltip.
    ListView1->setTextElideMode(Qt::ElideMiddle);
    ListView1->viewport()->installEventFilter(this);
    auto* pluginsLayout = new QVBoxLayout(plugins);
    pluginsLayout->addWidget(ListView1);

    PageControl1->setCurrentIndex(0);

    Button1 = Named<QPushButton>("Button1", QStringLiteral("OK"), this);
    Button1->setDefault(true);
    Button2 = Named<QPushButton>("Button2", QStringLiteral("キャンセル"), this);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(buttons);
    // 472 x 344, or what the dialog font needs when that is more; the pages take the height.
    const int width = std::max(472, layout->totalMinimumSize().width());
    const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
    setFixedSize(width, std::max(344, height));
}

void TPreferencesDialog::SetSettings(const TWindowOptions& options, const TPreferencesTargets& targets)
{
    FRecent = targets.Recent;
    chkWindowResizeByZoom->setChecked(options.WindowResizeByZoom);
    if (targets.HandTool)
        chkInvertTenohiraTool->setChecked(targets.HandTool->Invert());
    chkOpenResultNewWindow->setChecked(options.OpenResultInNewWindow);
    if (targets.SelectTool)
        CheckButton(SelectUnitButtons, UnitIndex(targets.SelectTool->MinimumUnit()));
    CheckButton(OutOfSelectionButtons, options.OutOfSelection);
    if (targets.Recent)
        updRecentFileCount->setValue(targets.Recent->VisibleCount());
    updGrassWidth->setValue(options.GrassWidth);
    updRainbowMaskSize->setValue(options.RainbowMaskSize);
    chkShowProcessingTime->setChecked(options.ShowProgressTime);
    chkApplyColorProfile->setChecked(options.ApplyColorProfile);
    chkAutoRotate->setChecked(options.AutoRotate);
    chkPreloadNeighbours->setChecked(options.PreloadNeighbours);
}

void TPreferencesDialog::ListPlugins(const TSPIs* spis)
{
    ListView1->setUpdatesEnabled(false);
    ListView1->clear();
    for (int i = 0; spis && i < spis->Count(); ++i) {
        const TSPI& spi = spis->Items(i);
        // The tree owns its items.
        auto* item = new QTreeWidgetItem(ListView1, {Text(spi.FileName()), Text(spi.About()),
                                                     FirstText(spi.Extensions()), FirstText(spi.Formats())});
        for (int c = 0; c < item->columnCount(); ++c)
            item->setToolTip(c, item->text(c));
    }
    FitPluginColumns();
    ListView1->setUpdatesEnabled(true);
}

void TPreferencesDialog::FitPluginColumns()
{
    // Columns narrower than an equal share of what is left get their whole width; the wider
    // ones share the rest equally.
    const int columns = ListView1->columnCount();
    std::vector<int> want(std::size_t(columns), 0), order(std::size_t(columns), 0);
    const QAbstractItemView* view = ListView1;  // the tree's own hint, called through its public base
    for (int c = 0; c < columns; ++c) {
        want[std::size_t(c)] = std::max(view->sizeHintForColumn(c), ListView1->header()->sectionSizeHint(c));
        order[std::size_t(c)] = c;
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return want[std::size_t(a)] < want[std::size_t(b)]; });
    int available = ListView1->viewport()->width();
    int left = columns;
    for (const int c : order) {
        const int width = std::min(want[std::size_t(c)], std::max(available, 0) / left);
        ListView1->setColumnWidth(c, width);
        available -= width;
        --left;
    }
}

bool TPreferencesDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListView1->viewport() && event->type() == QEvent::Resize)
        FitPluginColumns();
    return TOZVistaDialog::eventFilter(watched, event);
}

void TPreferencesDialog::GetSettings(TWindowOptions& options) const
{
    options.WindowResizeByZoom = chkWindowResizeByZoom->isChecked();
    options.OpenResultInNewWindow = chkOpenResultNewWindow->isChecked();
    if (const int i = OutOfSelectionButtons->checkedId(); i >= 0)
        options.OutOfSelection = uint8_t(i);
    options.GrassWidth = uint8_t(updGrassWidth->value());
    options.RainbowMaskSize = uint8_t(updRainbowMaskSize->value());
    options.ShowProgressTime = chkShowProcessingTime->isChecked();
    options.ApplyColorProfile = chkApplyColorProfile->isChecked();
    options.AutoRotate = chkAutoRotate->isChecked();
    options.PreloadNeighbours = chkPreloadNeighbours->isChecked();
}

uint8_t TPreferencesDialog::MinimumUnit() const
{
    const int i = SelectUnitButtons->checkedId();
    return i >= 0 && i < int(std::size(kUnits)) ? kUnits[i] : 1;
}

bool TPreferencesDialog::Execute(QWidget* owner, TWindowOptions& options, const TPreferencesTargets& targets,
                                 const TSPIs* spis)
{
    TPreferencesDialog dialog(owner);
    dialog.SetSettings(options, targets);
    dialog.ListPlugins(spis);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.GetSettings(options);
    if (targets.HandTool)
        targets.HandTool->SetInvert(dialog.InvertHandTool());
    if (targets.SelectTool)
        targets.SelectTool->SetMinimumUnit(dialog.MinimumUnit());
    if (targets.Recent)
        targets.Recent->SetVisibleCount(dialog.RecentFileCount());
    return true;
}

}  // namespace nolvi2
