import QtQuick
import QtQuick.Templates as T

// A rounded push button; the default (highlighted) one is filled with the accent colour.
// labelWidth, when set, fixes the width the label takes.
T.Button {
    id: button

    property real labelWidth: 0
    property int fontWeight: Font.Normal

    hoverEnabled: true
    implicitWidth: labelWidth > 0 ? labelWidth + leftPadding + rightPadding
                                  : Math.max(72, implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: 26
    leftPadding: labelWidth > 0 ? 8 : 14
    rightPadding: labelWidth > 0 ? 8 : 14
    Accessible.name: text

    contentItem: Text {
        text: button.text
        font.pixelSize: 13
        font.weight: button.fontWeight
        elide: Text.ElideRight
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: button.highlighted ? button.palette.highlightedText : button.palette.buttonText
        opacity: button.enabled ? 1 : 0.45
    }
    background: Rectangle {
        radius: 6
        color: button.highlighted ? button.palette.highlight : button.palette.button
        border.width: button.highlighted ? 0 : 1
        border.color: Qt.rgba(button.palette.windowText.r, button.palette.windowText.g,
                              button.palette.windowText.b, 0.18)
        opacity: button.enabled ? (button.down ? 0.8 : 1) : 0.5
    }
}
