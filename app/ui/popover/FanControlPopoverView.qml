import QtQuick
import QtQuick.Controls as Controls
import Zephro.ViewModel
import Zephro.Popover
import Zephro.Ui
import "Style.js" as Style

// The popover: a header with the spinning fan, what the connection to the helper allows
// (the fan controls, or progress, approval or repair), and the menu. It is as tall as its
// content up to maxHeight and scrolls beyond that.
Item {
    id: root

    // What the popover shows and changes.
    required property FanControlViewModel viewModel
    required property PopoverSettings settings
    // The update manager of the update row; without one the row is left out.
    property QtObject updateManager: null
    property QtObject loc: Localization
    // The tallest the popover may be before its content scrolls.
    property real maxHeight: 576
    property bool reduceMotion: false
    // Machines that are cooled without fans say so instead of "no fans found".
    property bool isMacBookAir: false
    // Entries for windows the application may not have yet.
    property bool showsAddPreset: false
    property bool showsFeedback: false
    property bool showsAbout: false

    signal quitRequested()
    signal addPresetRequested()
    signal feedbackRequested()
    signal aboutRequested()

    // Where the desktop composites (the window is see-through) the panel floats inside the
    // window's edge over a soft shadow, rounded; elsewhere it fills the window, square.
    readonly property bool composited: Window.window !== null && Window.window.color.a === 0
    readonly property real shadowMargin: composited ? 8 : 0
    // The content's natural height, scrolling or not.
    readonly property real measuredContentHeight: Math.ceil(content.implicitHeight + 32
                                                            + 2 * shadowMargin)
    readonly property bool isOverflowing: measuredContentHeight > maxHeight
    readonly property bool optionsExpanded: footer.optionsPanel.expanded
    readonly property bool isOptionsContentVisible: footer.optionsPanel.contentVisible
    readonly property bool languageExpanded: footer.languagePanel.expanded
    readonly property bool isLanguageContentVisible: footer.languagePanel.contentVisible
    readonly property int connectionKind: viewModel.connectionState.kind

    function text(key) {
        return loc ? (loc.revision, loc.string(key)) : key
    }

    implicitWidth: 320 + 2 * shadowMargin
    implicitHeight: Math.min(measuredContentHeight, maxHeight)

    // The colours come from the window's palette, which the application sets for the
    // appearance the user chose. Each role is set here explicitly so the controls below
    // take it too, instead of their style's own palette.
    readonly property var sourcePalette: Window.window ? Window.window.palette : systemPalette
    palette.window: sourcePalette.window
    palette.windowText: sourcePalette.windowText
    palette.base: sourcePalette.base
    palette.text: sourcePalette.text
    palette.button: sourcePalette.button
    palette.buttonText: sourcePalette.buttonText
    palette.highlight: sourcePalette.highlight
    palette.highlightedText: sourcePalette.highlightedText
    // Qt 6.4 refuses this role (added in 6.2) as a grouped property in a declaration.
    Component.onCompleted: palette.placeholderText = Qt.binding(() => sourcePalette.placeholderText)
    palette.light: sourcePalette.light
    palette.mid: sourcePalette.mid
    palette.dark: sourcePalette.dark
    palette.shadow: sourcePalette.shadow

    SystemPalette {
        id: systemPalette
    }

    // The shadow is stacked translucent layers, each a little wider than the last: Qt 6.4
    // has no blur effect to draw one with.
    Repeater {
        model: root.composited ? 4 : 0

        Rectangle {
            required property int index
            readonly property real spread: 1.5 * (index + 1)

            x: panel.x - spread
            y: panel.y - spread + 2
            width: panel.width + 2 * spread
            height: panel.height + 2 * spread
            radius: panel.radius + spread
            color: Qt.rgba(0, 0, 0, 0.05)
        }
    }

    // Without blur behind it, the veil stays nearly opaque so the desktop cannot tint the
    // text; solid backgrounds take the window colour itself.
    Rectangle {
        id: panel

        objectName: "background"
        anchors.fill: parent
        anchors.margins: root.shadowMargin
        radius: root.composited ? 10 : 0
        color: root.settings.disableLiquidGlass || !root.composited
               ? root.palette.window : Style.withAlpha(root.palette.window, 0.96)
        border.width: 1
        border.color: Style.withAlpha(root.palette.windowText, 0.2)
    }

    Flickable {
        id: scroller

        objectName: "scroller"
        anchors.fill: panel
        contentWidth: width
        contentHeight: root.measuredContentHeight - 2 * root.shadowMargin
        // Content that fits is laid out at its own height and does not move.
        interactive: root.isOverflowing
        clip: root.isOverflowing
        flickableDirection: Flickable.VerticalFlick
        boundsBehavior: Flickable.DragOverBounds

        Controls.ScrollBar.vertical: Controls.ScrollBar {
            objectName: "scrollBar"
            policy: root.isOverflowing ? Controls.ScrollBar.AsNeeded
                                       : Controls.ScrollBar.AlwaysOff
        }

        Column {
            id: content

            x: 16
            y: 16
            width: scroller.width - 32
            spacing: 16

            PopoverHeader {
                width: content.width
                viewModel: root.viewModel
                loc: root.loc
            }

            Loader {
                id: stateSection

                objectName: "stateSection"
                width: content.width
                sourceComponent: {
                    switch (root.connectionKind) {
                    case ConnectionState.Connecting:
                        return connectingState
                    case ConnectionState.NeedsApproval:
                        return approvalState
                    case ConnectionState.Error:
                        return errorState
                    default:
                        return root.viewModel.fans.length > 0 ? fanControls : noFanState
                    }
                }
            }

            PopoverFooter {
                id: footer

                width: content.width
                viewModel: root.viewModel
                settings: root.settings
                updateManager: root.updateManager
                loc: root.loc
                reduceMotion: root.reduceMotion
                showsAddPreset: root.showsAddPreset
                showsFeedback: root.showsFeedback
                showsAbout: root.showsAbout
                onAddPresetRequested: root.addPresetRequested()
                onFeedbackRequested: root.feedbackRequested()
                onAboutRequested: root.aboutRequested()
                onQuitRequested: root.quitRequested()
            }
        }
    }

    Component {
        id: connectingState

        StateMessage {
            objectName: "connecting"
            spacing: 12
            busy: true
            text: root.text("popover_connecting_helper")
            actionFlat: true
            actionText: root.text(root.viewModel.isInstallingHelper ? "popover_repairing"
                                                                    : "popover_repair_helper")
            actionEnabled: !root.viewModel.isInstallingHelper
            onActionClicked: root.viewModel.startInstallingHelper()
        }
    }

    Component {
        id: approvalState

        StateMessage {
            objectName: "needsApproval"
            symbolName: "checkmark.shield"
            symbolSize: 28
            // A literal text: it follows the desktop's language, not the chosen one.
            text: root.loc ? root.loc.systemString(
                                 "Approve Zephro's helper in System Settings → General → Login Items, then come back here.")
                           : ""
            actionText: root.text("popover_open_login_items")
            onActionClicked: root.settings.openLoginItems()
        }
    }

    Component {
        id: errorState

        StateMessage {
            // A refused change is not a missing helper: enabling it again would not help.
            readonly property int refusal: root.viewModel.connectionState.refusal
            readonly property bool refused: refusal !== ConnectionState.None

            objectName: "error"
            symbolName: refused ? "lock.fill" : "cable.connector.slash"
            symbolSize: 28
            text: root.text(refusal === ConnectionState.NotAuthorized ? "popover_not_authorized_desc"
                            : refusal === ConnectionState.ReadOnlyFans ? "popover_fans_read_only_desc"
                            : "popover_enable_helper_desc")
            actionText: refused ? "" : root.text(root.viewModel.isInstallingHelper
                                                 ? "popover_enabling" : "popover_enable")
            actionEnabled: !root.viewModel.isInstallingHelper
            onActionClicked: root.viewModel.startInstallingHelper()
        }
    }

    Component {
        id: noFanState

        StateMessage {
            objectName: "noFans"
            spacing: 12
            symbolName: root.isMacBookAir ? "laptopcomputer" : "fan.slash"
            symbolSize: 28
            textSize: Style.subheadline
            text: root.text(root.isMacBookAir ? "popover_no_fan_air" : "popover_no_fan")
        }
    }

    Component {
        id: fanControls

        FanControls {
            objectName: "fanControls"
            viewModel: root.viewModel
            settings: root.settings
            loc: root.loc
            reduceMotion: root.reduceMotion
        }
    }
}
