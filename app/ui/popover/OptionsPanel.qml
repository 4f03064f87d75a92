import QtQuick
import QtQuick.Layouts
import "Style.js" as Style

// The options: the eight switches and the appearance control. Every switch writes its
// setting at once; the icon switch keeps the status item from ever being empty.
Column {
    id: panel

    required property QtObject viewModel
    required property QtObject settings
    property QtObject loc
    property bool reduceMotion: false

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    // With the switches' 18 pixels, one row height apart.
    spacing: Style.rowHeight - 18

    OptionSwitch {
        objectName: "showRPM"
        width: panel.width
        text: panel.text("popover_show_rpm")
        checked: panel.settings.showRPMInMenuBar
        onToggled: on => {
            panel.settings.showRPMInMenuBar = on
            panel.viewModel.ensureMenuBarIconVisible()
        }
    }
    OptionSwitch {
        objectName: "showTemp"
        width: panel.width
        text: panel.text("popover_show_temp")
        checked: panel.settings.showTempInMenuBar
        onToggled: on => {
            panel.settings.showTempInMenuBar = on
            panel.viewModel.ensureMenuBarIconVisible()
        }
    }
    OptionSwitch {
        objectName: "showIcon"
        width: panel.width
        text: panel.text("popover_show_icon")
        // With no text in the status item the icon is all it has: it reads as on, and
        // turning it off stores on.
        checked: panel.settings.showIconInMenuBar || !panel.viewModel.isMenuBarTextVisible
        onToggled: on => {
            panel.settings.showIconInMenuBar = on || !panel.viewModel.isMenuBarTextVisible
        }
    }
    OptionSwitch {
        objectName: "launchAtLogin"
        width: panel.width
        text: panel.text("popover_launch_at_login")
        checked: panel.settings.launchAtLogin
        onToggled: on => panel.settings.launchAtLogin = on
    }
    OptionSwitch {
        objectName: "useFahrenheit"
        width: panel.width
        text: panel.text("popover_use_fahrenheit")
        checked: panel.settings.useFahrenheit
        onToggled: on => panel.settings.useFahrenheit = on
    }
    OptionSwitch {
        objectName: "fineTune"
        width: panel.width
        text: panel.text("popover_fine_tune")
        checked: panel.settings.fineTuneManualOverride
        onToggled: on => panel.settings.fineTuneManualOverride = on
    }
    OptionSwitch {
        objectName: "showModeSymbols"
        width: panel.width
        text: panel.text("popover_show_mode_symbols")
        checked: panel.settings.showModeSymbols
        onToggled: on => panel.settings.showModeSymbols = on
    }
    OptionSwitch {
        objectName: "disableLiquidGlass"
        width: panel.width
        text: panel.text("popover_disable_liquid_glass")
        checked: panel.settings.disableLiquidGlass
        onToggled: on => panel.settings.disableLiquidGlass = on
    }

    RowLayout {
        width: panel.width
        spacing: 8

        Text {
            text: panel.text("popover_appearance")
            font.pixelSize: Style.body
            font.weight: Font.Medium
            color: panel.palette.windowText
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
        AppearanceSegmentedControl {
            objectName: "appearance"
            loc: panel.loc
            selection: panel.settings.appearanceMode
            disableLiquidGlass: panel.settings.disableLiquidGlass
            reduceMotion: panel.reduceMotion
            Layout.preferredWidth: 168
            onSelected: mode => panel.settings.appearanceMode = mode
        }
    }
}
