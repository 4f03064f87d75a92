import QtQuick
import Zephro.Ui
import QtQuick.Controls as Controls
import "Style.js" as Style

// A centred message where the fan controls would be: a progress indicator or a symbol,
// a text and, when there is something to do, a button.
Column {
    id: message

    property bool busy: false
    property string symbolName
    property real symbolSize: 22
    property string text
    property int textSize: Style.caption
    property string actionText
    property bool actionEnabled: true
    property bool actionFlat: false

    signal actionClicked()

    spacing: 8
    topPadding: 24
    bottomPadding: 24

    Controls.BusyIndicator {
        objectName: "progress"
        visible: message.busy
        running: visible
        implicitWidth: 24
        implicitHeight: 24
        anchors.horizontalCenter: parent.horizontalCenter
    }
    SymbolGlyph {
        objectName: "symbol"
        visible: message.symbolName.length > 0
        name: message.symbolName
        size: message.symbolSize
        color: Theme.secondaryText(message.palette)
        anchors.horizontalCenter: parent.horizontalCenter
    }
    Text {
        objectName: "text"
        width: message.width
        text: message.text
        font.pixelSize: message.textSize
        color: Theme.secondaryText(message.palette)
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.WordWrap
    }
    ActionButton {
        objectName: "action"
        visible: message.actionText.length > 0
        text: message.actionText
        enabled: message.actionEnabled
        flat: message.actionFlat
        anchors.horizontalCenter: parent.horizontalCenter
        onClicked: message.actionClicked()
    }
}
