import QtQuick
import QtQuick.Templates as T
import Zephro.Ui
import "Style.js" as Style

// The picker's clear and emoji buttons: text with an optional symbol, on a faint capsule.
T.AbstractButton {
    id: button

    property string symbolName

    hoverEnabled: true
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: 24
    leftPadding: 10
    rightPadding: 10
    Accessible.name: text

    contentItem: Row {
        spacing: 5

        SymbolGlyph {
            visible: button.symbolName.length > 0
            name: button.symbolName
            size: 14
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: button.text
            font.pixelSize: 12
            color: button.palette.windowText
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    background: Rectangle {
        radius: height / 2
        color: Style.withAlpha(button.palette.windowText,
                               button.pressed ? 0.16 : button.hovered ? 0.11 : 0.07)
    }
}
