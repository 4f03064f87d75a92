import QtQuick
import Zephro.Ui
import "Style.js" as Style

// The detail pane with nothing selected: a line and the button that starts a new preset.
Item {
    id: empty

    property string text
    property string buttonText

    signal newPresetRequested()

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
        PushButton {
            objectName: "newPresetButton"
            anchors.horizontalCenter: parent.horizontalCenter
            text: empty.buttonText
            onClicked: empty.newPresetRequested()
        }
    }
}
