#pragma once
// The resize dialog: a new size in pixels or percent, a fixed ratio, six ratio buttons and
// the resampling algorithm.

#include "ResizeModel.h"
#include "common/OZVista.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

namespace nolvi2 {

class TResizeDialog : public TOZVistaDialog {
    Q_OBJECT
public:
    TResizeDialog();
    ~TResizeDialog() override;

    // Asks for a new size of a width x height picture; on OK writes the size and the
    // algorithm (1 nearest neighbour, 2 bilinear, 3 integral) back and returns true.
    static bool Execute(int32_t& width, int32_t& height, uint8_t& algorithm);

    void Init(int32_t sourceWidth, int32_t sourceHeight);
    TResizeModel& Model() { return FModel; }
    int SelectedAlgorithm() const;  // 1..3
    void SelectAlgorithm(int algorithm);

private:
    // Shows the model's texts in the edits (without running their handlers again).
    void ShowModel();

    TResizeModel FModel;
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* edtWidth = nullptr;
    QLineEdit* edtHeight = nullptr;
    QCheckBox* chkFixedRatio = nullptr;
    QComboBox* cmbWidth = nullptr;
    QComboBox* cmbHeight = nullptr;
    QButtonGroup* RadioGroup1 = nullptr;
    bool FShowing = false;
};

}  // namespace nolvi2
