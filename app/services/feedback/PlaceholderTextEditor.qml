import QtQuick
import QtQuick.Controls.Basic
import Zephro.Ui
import Zephro.Feedback

// A multi-line plain-text editor with a placeholder that holds at most maxLength
// user-perceived characters, typed or pasted: the rest is cut off at once. Text and
// placeholder wrap anywhere, so neither runs past the right edge nor is cut short.
ScrollView {
    id: editor

    property alias text: area.text
    property alias placeholder: placeholderLabel.text
    property int maxLength: 1000
    property real fontSize: 12
    readonly property alias textArea: area

    clip: true

    TextArea {
        id: area

        objectName: "messageArea"
        font.pixelSize: editor.fontSize
        wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
        textFormat: TextEdit.PlainText
        leftPadding: 5
        rightPadding: 5
        topPadding: 8
        bottomPadding: 8
        color: editor.palette.windowText
        background: null
        onTextChanged: {
            if (FeedbackText.characterCount(text) > editor.maxLength) {
                text = FeedbackText.firstCharacters(text, editor.maxLength)
                cursorPosition = length
            }
        }

        // The style's own placeholder is one line, elided.
        Text {
            id: placeholderLabel

            objectName: "placeholder"
            x: area.leftPadding
            y: area.topPadding
            width: area.width - area.leftPadding - area.rightPadding
            visible: area.length === 0 && area.preeditText.length === 0
            font: area.font
            color: Theme.secondaryText(editor.palette)
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        }
    }
}
