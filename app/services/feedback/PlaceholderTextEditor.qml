import QtQuick
import QtQuick.Controls.Basic
import Zephro.Feedback

// A multi-line plain-text editor with a placeholder that holds at most maxLength
// user-perceived characters, typed or pasted: the rest is cut off at once.
ScrollView {
    id: editor

    property alias text: area.text
    property alias placeholder: area.placeholderText
    property int maxLength: 1000
    property real fontSize: 12
    readonly property alias textArea: area

    clip: true

    TextArea {
        id: area

        objectName: "messageArea"
        font.pixelSize: editor.fontSize
        wrapMode: TextEdit.Wrap
        textFormat: TextEdit.PlainText
        leftPadding: 5
        rightPadding: 5
        topPadding: 8
        bottomPadding: 8
        color: editor.palette.windowText
        placeholderTextColor: Qt.rgba(editor.palette.windowText.r, editor.palette.windowText.g,
                                      editor.palette.windowText.b, 0.45)
        background: null
        onTextChanged: {
            if (FeedbackText.characterCount(text) > editor.maxLength) {
                text = FeedbackText.firstCharacters(text, editor.maxLength)
                cursorPosition = length
            }
        }
    }
}
