import QtQuick
import Zephro.Ui
import "Style.js" as Style

// The sidebar without presets.
Item {
    id: empty

    property string text

    Text {
        objectName: "sidebarEmptyText"
        anchors.centerIn: parent
        width: parent.width - 24
        text: empty.text
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
        font.pixelSize: Style.body
        color: Theme.secondaryText(empty.palette)
    }
}
