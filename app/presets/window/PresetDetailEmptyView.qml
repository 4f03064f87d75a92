import QtQuick
import Zephro.Ui
import "Style.js" as Style

// The detail pane with nothing selected: a line and the buttons that start a new preset or
// a new curve.
Item {
    id: empty

    property string text
    property string buttonText
    property string curveButtonText

    signal newPresetRequested()
    signal newCurveRequested()

    Column {
        anchors.centerIn: parent
        spacing: 14

        Text {
            objectName: "detailEmptyText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: empty.text
            font.pixelSize: Style.body
            color: Theme.secondaryText(empty.palette)
        }
        Row {
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 8

            PushButton {
                objectName: "newPresetButton"
                text: empty.buttonText
                onClicked: empty.newPresetRequested()
            }
            PushButton {
                objectName: "newCurveButton"
                text: empty.curveButtonText
                onClicked: empty.newCurveRequested()
            }
        }
    }
}
