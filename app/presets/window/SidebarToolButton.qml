import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Zephro.Ui
import "Style.js" as Style

// A small borderless button of the sidebar's bottom bar: one symbol, its text read out as
// the accessible label, and a tooltip.
T.AbstractButton {
    id: button

    required property string symbolName
    property string help

    hoverEnabled: true
    implicitWidth: 26
    implicitHeight: 24
    Accessible.name: text
    Accessible.description: help

    contentItem: SymbolGlyph {
        name: button.symbolName
        size: 15
        color: button.enabled ? button.palette.windowText
                              : Style.withAlpha(button.palette.windowText, 0.3)
    }
    background: Rectangle {
        radius: 5
        color: button.pressed ? Style.withAlpha(button.palette.windowText, 0.14)
                              : button.hovered && button.enabled
                                ? Style.withAlpha(button.palette.windowText, 0.07) : "transparent"
    }

    ToolTip.visible: hovered && help.length > 0
    ToolTip.text: help
    ToolTip.delay: 600
}
