import QtQuick
import QtQuick.Templates as T
import "Style.js" as Style

// The push button of the helper states; `flat` makes it a text button in the accent colour.
T.Button {
    id: control

    hoverEnabled: true
    leftPadding: 12
    rightPadding: 12
    topPadding: 5
    bottomPadding: 5
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    opacity: enabled ? 1 : 0.5

    contentItem: Text {
        text: control.text
        font.pixelSize: Style.body
        font.weight: control.flat ? Font.Normal : Font.Medium
        color: control.flat ? control.palette.highlight : control.palette.buttonText
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        visible: !control.flat || control.hovered
        radius: 6
        color: control.flat ? Style.withAlpha(control.palette.highlight, 0.1)
                            : control.pressed ? Qt.darker(control.palette.button, 1.08)
                                              : control.palette.button
        border.width: control.flat ? 0 : 1
        border.color: Style.withAlpha(control.palette.windowText, 0.15)
    }
}
