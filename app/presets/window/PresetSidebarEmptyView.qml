import QtQuick
import Zephro.Ui
import "Style.js" as Style

// A sidebar section without entries: one line saying so.
Item {
    id: empty

    property string text
    property string textName: "sidebarEmptyText"

    implicitHeight: 44

    Text {
        objectName: empty.textName
        anchors.centerIn: parent
        width: parent.width - 24
        text: empty.text
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        font.pixelSize: Style.body
        color: Theme.secondaryText(empty.palette)
    }
}
