import QtQuick
import Zephro.Ui
import QtQuick.Layouts
import QtQuick.Templates as T
import "Style.js" as Style

// A mode button: filled with its tint while active, otherwise a light material (or the
// control background with solid backgrounds), each with a thin outline.
T.Button {
    id: control

    property bool isActive: false
    property color tint: palette.highlight
    property bool disableLiquidGlass: false
    property string symbolName
    property bool showSymbol: true
    property bool reduceMotion: false
    readonly property color foreground: isActive ? "white" : palette.windowText

    hoverEnabled: true
    padding: 8
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    scale: pressed ? 0.97 : 1

    Behavior on scale {
        enabled: !control.reduceMotion
        NumberAnimation {
            duration: 160
            easing.type: Easing.OutBack
        }
    }

    contentItem: RowLayout {
        spacing: 4

        Item {
            Layout.fillWidth: true
        }
        SymbolGlyph {
            objectName: "symbol"
            visible: control.showSymbol && control.symbolName.length > 0
            name: control.symbolName
            size: 14
            color: control.foreground
        }
        Text {
            text: control.text
            font.pixelSize: Style.subheadline
            font.weight: Font.DemiBold
            color: control.foreground
            elide: Text.ElideRight
            Layout.maximumWidth: control.availableWidth - 20
        }
        Item {
            Layout.fillWidth: true
        }
    }

    background: Rectangle {
        radius: 10
        border.width: 1
        color: control.isActive ? control.tint
                                : control.disableLiquidGlass ? control.palette.base
                                                             : Style.thinMaterial(control.palette)
        border.color: control.isActive ? Qt.darker(control.tint, 1.1)
                                       : control.disableLiquidGlass
                                         ? Style.withAlpha(control.palette.windowText, 0.12)
                                         : Qt.rgba(1, 1, 1, 0.28)
    }
}
