import QtQuick
import Zephro.Ui
import QtQuick.Controls as Controls
import QtQuick.Layouts
import Zephro.ViewModel
import "Style.js" as Style

// The fan that turns with the fastest fan, the application's name, and under it the
// preset or curve in force or else the mode; a progress indicator while a change is on its way.
RowLayout {
    id: header

    required property FanControlViewModel viewModel
    property QtObject loc

    // The preset or the curve in force.
    readonly property string activePresetName: {
        const named = (list, id) => {
            for (let i = 0; i < list.length; ++i) {
                if (list[i].id === id)
                    return list[i].name
            }
            return ""
        }
        const presetID = viewModel.presetStore.activePresetID
        if (presetID.length > 0)
            return named(viewModel.presetStore.presets, presetID)
        const curveID = viewModel.curveStore.activeCurveID
        return curveID.length > 0 ? named(viewModel.curveStore.curves, curveID) : ""
    }
    readonly property string modeKey: viewModel.activeMode === FanControlViewModel.Manual
                                      ? "popover_mode_manual"
                                      : viewModel.activeMode === FanControlViewModel.Max
                                        ? "popover_mode_max" : "popover_mode_system"
    readonly property string subtitle: activePresetName.length > 0
                                       ? activePresetName
                                       : loc ? (loc.revision, loc.string(modeKey)) : modeKey
    readonly property real fastestRPM: {
        let fastest = 0
        const fans = viewModel.fans
        for (let i = 0; i < fans.length; ++i)
            fastest = Math.max(fastest, fans[i].currentRPM)
        return fastest
    }

    spacing: 10

    SpinningFanGlyph {
        objectName: "fanGlyph"
        rpm: header.fastestRPM
        size: 26
        Layout.preferredWidth: 28
        Layout.preferredHeight: 28
    }
    Column {
        spacing: 2
        Layout.fillWidth: true

        Text {
            // A literal text: it follows the desktop's language, not the chosen one.
            text: header.loc ? (header.loc.revision, header.loc.systemString("Zephro")) : "Zephro"
            font.pixelSize: Style.headline
            font.weight: Font.Bold
            color: header.palette.windowText
        }
        Text {
            objectName: "subtitle"
            text: header.subtitle
            font.pixelSize: Style.caption
            color: Theme.secondaryText(header.palette)
            elide: Text.ElideRight
            width: parent.width
        }
    }
    Controls.BusyIndicator {
        objectName: "applying"
        visible: header.viewModel.isApplyingChange
        running: visible
        Layout.preferredWidth: 18
        Layout.preferredHeight: 18
    }
}
