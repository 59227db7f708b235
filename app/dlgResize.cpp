#include "dlgResize.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace nolvi2 {

TResizeDialog::TResizeDialog()
{
    setWindowTitle(QStringLiteral("サイズ変更"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    GroupBox1 = new QGroupBox(this);
    auto* grid = new QGridLayout(GroupBox1);
    auto* label2 = new QLabel(QStringLiteral("幅(&W):"), GroupBox1);
    auto* label3 = new QLabel(QStringLiteral("高さ(&H):"), GroupBox1);
    label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edtWidth = new QLineEdit(QStringLiteral("1"), GroupBox1);
    edtHeight = new QLineEdit(QStringLiteral("1"), GroupBox1);
    edtWidth->setObjectName(QStringLiteral("edtWidth"));
    edtHeight->setObjectName(QStringLiteral("edtHeight"));
    label2->setBuddy(edtWidth);
    label3->setBuddy(edtHeight);
    cmbWidth = new QComboBox(GroupBox1);
    cmbHeight = new QComboBox(GroupBox1);
    cmbWidth->setObjectName(QStringLiteral("cmbWidth"));
    cmbHeight->setObjectName(QStringLiteral("cmbHeight"));
    for (QComboBox* c : {cmbWidth, cmbHeight})
        c->addItems({QStringLiteral("ピクセル"), QStringLiteral("パーセント")});
    chkFixedRatio = new QCheckBox(QStringLiteral("縦横比を固定(&F)"), GroupBox1);
    chkFixedRatio->setChecked(true);
    grid->addWidget(label2, 0, 0);
    grid->addWidget(edtWidth, 0, 1);
    grid->addWidget(cmbWidth, 0, 2);
    grid->addWidget(label3, 1, 0);
    grid->addWidget(edtHeight, 1, 1);
    grid->addWidget(cmbHeight, 1, 2);
    grid->addWidget(chkFixedRatio, 2, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    const std::pair<const char*, int> ratios[] = {{"/ 10", 100}, {"/ 8", 125}, {"/ 4", 250},
                                                  {"/ 2", 500},  {"1", 1000},  {"2", 2000}};
    for (const auto& [caption, tag] : ratios) {
        auto* b = new QPushButton(QString::fromUtf8(caption), GroupBox1);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, tag = tag] {
            FModel.RatioButton(tag);
            ShowModel();
        });
        buttons->addWidget(b);
    }
    grid->addLayout(buttons, 3, 0, 1, 3);

    auto* algorithms = new QGroupBox(QStringLiteral("アルゴリズム(&A)"), this);
    auto* algLayout = new QGridLayout(algorithms);
    RadioGroup1 = new QButtonGroup(this);
    const char* names[] = {"ニアレストネイバー法", "バイリニア法", "積分法"};
    for (int i = 0; i < 3; ++i) {
        auto* r = new QRadioButton(QString::fromUtf8(names[i]), algorithms);
        RadioGroup1->addButton(r, i);
        algLayout->addWidget(r, i / 2, i % 2);
    }
    RadioGroup1->button(0)->setChecked(true);

    auto* box = new QDialogButtonBox(this);
    auto* ok = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    box->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(algorithms);
    layout->addWidget(box);

    const auto widthChanged = [this] {
        if (FShowing)
            return;
        FModel.FixedRatio = chkFixedRatio->isChecked();
        FModel.WidthEdited(edtWidth->text().toStdString());
        ShowModel();
    };
    const auto heightChanged = [this] {
        if (FShowing)
            return;
        FModel.FixedRatio = chkFixedRatio->isChecked();
        FModel.HeightEdited(edtHeight->text().toStdString());
        ShowModel();
    };
    connect(edtWidth, &QLineEdit::textChanged, this, widthChanged);
    connect(edtWidth, &QLineEdit::editingFinished, this, widthChanged);
    connect(edtHeight, &QLineEdit::textChanged, this, heightChanged);
    connect(edtHeight, &QLineEdit::editingFinished, this, heightChanged);
    connect(cmbWidth, &QComboBox::currentIndexChanged, this, [this](int i) {
        FModel.SetWidthUnit(i == 1);
        ShowModel();
    });
    connect(cmbHeight, &QComboBox::currentIndexChanged, this, [this](int i) {
        FModel.SetHeightUnit(i == 1);
        ShowModel();
    });
    connect(chkFixedRatio, &QCheckBox::toggled, this, [this](bool on) { FModel.FixedRatio = on; });
}

TResizeDialog::~TResizeDialog()
{
    // An edit that has the focus when the dialog goes reports that it was left; by then the
    // model is gone, so the handlers must not hear it.
    for (QLineEdit* edit : {edtWidth, edtHeight})
        edit->disconnect(this);
}

void TResizeDialog::ShowModel()
{
    FShowing = true;
    const QString w = QString::fromStdString(FModel.WidthText), h = QString::fromStdString(FModel.HeightText);
    if (edtWidth->text() != w)
        edtWidth->setText(w);
    if (edtHeight->text() != h)
        edtHeight->setText(h);
    FShowing = false;
}

void TResizeDialog::Init(int32_t sourceWidth, int32_t sourceHeight)
{
    GroupBox1->setTitle(QStringLiteral("新しいサイズ（元のサイズ %1 x %2）").arg(sourceWidth).arg(sourceHeight));
    FModel.Init(sourceWidth, sourceHeight);
    ShowModel();
}

int TResizeDialog::SelectedAlgorithm() const { return RadioGroup1->checkedId() + 1; }

void TResizeDialog::SelectAlgorithm(int algorithm)
{
    if (QAbstractButton* b = RadioGroup1->button(algorithm - 1))
        b->setChecked(true);
}

bool TResizeDialog::Execute(int32_t& width, int32_t& height, uint8_t& algorithm)
{
    TResizeDialog dialog;
    dialog.Init(width, height);
    dialog.SelectAlgorithm(algorithm);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    width = dialog.Model().GetWidthPixels();
    height = dialog.Model().GetHeightPixels();
    algorithm = uint8_t(dialog.SelectedAlgorithm());
    return true;
}

}  // namespace nolvi2
