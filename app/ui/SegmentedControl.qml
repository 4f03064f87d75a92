import QtQuick
import QtQuick.Templates as T

// A row of segments of which one is chosen, filled with the accent colour. Each segment
// is {value, text}; choosing one announces its value and leaves `value` to the owner.
Rectangle {
    id: control

    property var segments: []
    property string value

    signal chosen(string value)

    implicitWidth: 240
    implicitHeight: 26
    radius: 6
    color: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.07)
    border.width: 1
    border.color: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.12)

    Row {
        anchors.fill: parent
        anchors.margins: 2

        Repeater {
            model: control.segments

            T.AbstractButton {
                id: segment

                required property var modelData
                readonly property bool isChosen: control.value === modelData.value

                objectName: "segment_" + modelData.value
                width: parent.width / Math.max(1, control.segments.length)
                height: parent.height
                Accessible.role: Accessible.RadioButton
                Accessible.name: modelData.text
                Accessible.checked: isChosen
                onClicked: control.chosen(modelData.value)

                contentItem: Text {
                    text: segment.modelData.text
                    font.pixelSize: 13
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    color: segment.isChosen ? control.palette.highlightedText
                                            : control.palette.windowText
                }
                background: Rectangle {
                    radius: 4
                    color: segment.isChosen ? control.palette.highlight : "transparent"
                }
            }
        }
    }
}
