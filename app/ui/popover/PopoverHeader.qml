import QtQuick
import Zephro.Ui
import QtQuick.Controls as Controls
import QtQuick.Layouts
import Zephro.ViewModel
import "Style.js" as Style

// The fan that turns with the fastest fan, the application's name, and under it the
// preset in force or else the mode; a progress indicator while a change is on its way.
RowLayout {
    id: header

    required property FanControlViewModel viewModel
    property QtObject loc

    readonly property string activePresetName: {
        const store = viewModel.presetStore
        const id = store.activePresetID
        if (id.length === 0)
            return ""
        const presets = store.presets
        for (let i = 0; i < presets.length; ++i) {
            if (presets[i].id === id)
                return presets[i].name
        }
        return ""
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
