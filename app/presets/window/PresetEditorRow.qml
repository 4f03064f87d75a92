import QtQuick
import QtQuick.Layouts
import "Style.js" as Style

// One row of the editor: its label right-aligned in a column 72 wide, beside its control.
RowLayout {
    id: row

    property string label
    default property alias content: holder.data

    spacing: 12

    Text {
        text: row.label
        font.pixelSize: 13
        horizontalAlignment: Text.AlignRight
        color: row.palette.windowText
        elide: Text.ElideRight
        Layout.preferredWidth: 72
        Layout.alignment: Qt.AlignTop
        Layout.topMargin: 5
    }
    Item {
        id: holder

        implicitWidth: childrenRect.width
        implicitHeight: childrenRect.height
        Layout.fillWidth: true
    }
}
