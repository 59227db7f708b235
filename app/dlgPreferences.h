#pragma once
// The preferences dialog: five pages editing the window's options, the hand tool's direction,
// the selection grid and the recent-files list, and listing the loaded picture plug-ins.

#include "WindowSettings.h"
#include "common/OZVista.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdint>
#include <functional>

namespace nolvi2 {

class TOZHistoryList;
class TSelectTool;
class TSPIs;
class TTenohiraTool;

// The objects the dialog edits besides the window's options.
struct TPreferencesTargets {
    TOZHistoryList* Recent = nullptr;
    TSelectTool* SelectTool = nullptr;
    TTenohiraTool* HandTool = nullptr;
};

class TPreferencesDialog : public TOZVistaDialog {
    Q_OBJECT
public:
    explicit TPreferencesDialog(QWidget* owner = nullptr);

    // Shows the dialog modally; true exactly when OK was pressed. On OK the window's options are
    // written back into options, and the hand tool's direction, the selection grid and the
    // list's visible count are set (a count the list refuses leaves it as it was). On Cancel
    // nothing changes, except what the two clearing buttons did to the list at once.
    static bool Execute(QWidget* owner, TWindowOptions& options, const TPreferencesTargets& targets, const TSPIs* spis);

    // Shows options and the targets' values in the controls; the clearing buttons act on
    // targets.Recent from now on.
    void SetSettings(const TWindowOptions& options, const TPreferencesTargets& targets);
    // One row per plug-in of spis in registry order; none for a null registry. Each cell's
    // tooltip is its text.
    void ListPlugins(const TSPIs* spis);
    // Reads the window's options from the controls. With no out-of-selection button checked that
    // option keeps its value.
    void GetSettings(TWindowOptions& options) const;
    bool InvertHandTool() const { return chkInvertTenohiraTool->isChecked(); }
    // The selection grid the buttons choose: 1 (none), 8, 16, 24 or 32.
    uint8_t MinimumUnit() const;
    int RecentFileCount() const { return updRecentFileCount->value(); }

    QTabWidget* PageControl1 = nullptr;
    QPushButton* Button1 = nullptr;  // OK
    QPushButton* Button2 = nullptr;  // キャンセル

    QCheckBox* chkWindowResizeByZoom = nullptr;
    QCheckBox* chkInvertTenohiraTool = nullptr;
    QLabel* Memo1 = nullptr;
    QCheckBox* chkOpenResultNewWindow = nullptr;
    QLabel* Memo2 = nullptr;
    QCheckBox* chkShowProcessingTime = nullptr;
    QCheckBox* chkApplyColorProfile = nullptr;
    QCheckBox* chkAutoRotate = nullptr;
    QCheckBox* chkPreloadNeighbours = nullptr;

    QGroupBox* rdoSelectUnit = nullptr;
    QButtonGroup* SelectUnitButtons = nullptr;
    QGroupBox* rdoOutOfSelection = nullptr;
    QButtonGroup* OutOfSelectionButtons = nullptr;

    QSpinBox* updRecentFileCount = nullptr;
    QPushButton* Button3 = nullptr;  // クリア
    QPushButton* Button4 = nullptr;  // 存在しないファイルをクリア

    QSpinBox* updGrassWidth = nullptr;
    QSpinBox* updRainbowMaskSize = nullptr;

    QTreeWidget* ListView1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Sizes the plug-in list's columns to their texts within the list's width.
    void FitPluginColumns();

    TOZHistoryList* FRecent = nullptr;
};

}  // namespace nolvi2
