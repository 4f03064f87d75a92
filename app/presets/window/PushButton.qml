import QtQuick
import QtQuick.Templates as T
import "Style.js" as Style

// A rounded push button; the default one is filled with the accent colour.
T.Button {
    id: button

    hoverEnabled: true
    implicitWidth: Math.max(72, implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: 26
    leftPadding: 14
    rightPadding: 14
    Accessible.name: text

    contentItem: Text {
        text: button.text
        font.pixelSize: 13
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: button.highlighted ? button.palette.highlightedText : button.palette.buttonText
        opacity: button.enabled ? 1 : 0.45
    }
    background: Rectangle {
        radius: 6
        color: button.highlighted ? button.palette.highlight : button.palette.button
        border.width: button.highlighted ? 0 : 1
        border.color: Style.withAlpha(button.palette.windowText, 0.18)
        opacity: button.enabled ? (button.down ? 0.8 : 1) : 0.5
    }
}
