import QtQuick
import QtTest
import Zephro.Feedback
import Zephro.Ui

TestCase {
    id: testCase

    name: "Feedback"
    visible: true
    width: 320
    height: 500
    when: windowShown

    Component {
        id: viewComponent

        FeedbackView {
            width: 320
            height: implicitHeight
        }
    }
    SignalSpy {
        id: closing

        signalName: "closeRequested"
    }

    function initTestCase() {
        Localization.language = "en"
    }

    function item(parent, name) {
        const found = findChild(parent, name)
        verify(found, "no item named " + name)
        for (let up = found; up; up = up.parent)
            verify(waitForItemPolished(up), "still laying out " + name)
        return found
    }

    function typeInto(field, text) {
        field.forceActiveFocus()
        for (const character of text)
            keyClick(character === "\n" ? Qt.Key_Return : character)
    }

    function test_aBlankMessageCannotBeSent() {
        const form = createTemporaryObject(viewComponent, testCase)
        const send = item(form, "sendButton")
        typeInto(item(form, "messageArea"), "  \n")
        compare([form.message, send.enabled], ["  \n", false])
        mouseClick(send)
        compare(form.isSending, false)
        typeInto(item(form, "messageArea"), "x")
        compare(send.enabled, true)
    }

    function test_theMessageStopsAt1000Characters_data() {
        return [
            { tag: "pasted", paste: "a".repeat(1200), count: 1000 },
            { tag: "typed past the end", paste: "b".repeat(1000), typed: "cd", count: 1000 },
            { tag: "emoji count once", paste: "🔥".repeat(999) + "👨‍👩‍👧👨‍👩‍👧", count: 1000 },
            { tag: "short", paste: "It hums.", count: 8 }
        ]
    }

    function test_theMessageStopsAt1000Characters(data) {
        const form = createTemporaryObject(viewComponent, testCase)
        const area = item(form, "messageArea")
        area.insert(0, data.paste)
        if (data.typed)
            typeInto(area, data.typed)
        compare(FeedbackText.characterCount(form.message), data.count)
        verify(data.paste.startsWith(form.message) || form.message.startsWith(data.paste.slice(0, 10)))
        // At the limit the counter turns from grey to orange, still legible as text.
        const counter = item(form, "counter")
        const warns = counter.color.r - counter.color.b > 0.3
        compare([counter.text, warns], [data.count + "/1000", data.count >= 1000])
        verify(Theme.contrast(counter.color, form.palette.window) >= 4.5)
    }

    // Within the 18-pixel margins: the placeholder whole on as many lines as it needs, an
    // unbroken message wrapped, and a failure line that is wider than the form.
    function test_everythingStaysInsideTheMargins_data() {
        return [
            { tag: "placeholder", message: "", result: "" },
            { tag: "unbroken message, failure", message: "m".repeat(1000), result: "failure" }
        ]
    }

    function test_everythingStaysInsideTheMargins(data) {
        const form = createTemporaryObject(viewComponent, testCase)
        form.message = data.message
        form.sendResult = data.result
        const placeholder = item(form, "placeholder")
        compare([placeholder.visible, placeholder.text, placeholder.truncated],
                [data.message === "", Localization.string("feedback_placeholder_bug"), false])
        verify(placeholder.lineCount > 1, "the placeholder fits on one line; nothing was checked")
        const area = item(form, "messageArea")
        verify(area.contentWidth <= area.width, "the message runs past its box")
        for (const name of ["messageEditor", "emailField", "disclaimer", "statusLine"]) {
            const part = item(form, name)
            verify(!part.visible || part.mapToItem(form, part.width, 0).x <= form.width - 18, name)
        }
    }

    function test_sending_data() {
        return [
            { tag: "success", status: 200, category: "bug", typed: "  Quiet now \n", email: "   ",
              result: "success", statusText: "Thank you! Your feedback was sent.", closes: 1,
              sent: { category: "bug", message: "Quiet now" } },
            { tag: "failure keeps what was written", status: 500, category: "idea", typed: "Curves",
              email: "me@example.org", result: "failure",
              statusText: Localization.string("feedback_sent_failure"), closes: 0,
              sent: { category: "idea", message: "Curves", contactEmail: "me@example.org" } }
        ]
    }

    function test_sending(data) {
        telemetryServer.answer(data.status)
        const form = createTemporaryObject(viewComponent, testCase)
        closing.target = form
        closing.clear()
        mouseClick(item(form, "segment_" + data.category))
        typeInto(item(form, "messageArea"), data.typed)
        typeInto(item(form, "emailField"), data.email)
        const before = telemetryServer.posted().length
        mouseClick(item(form, "sendButton"))
        compare([form.isSending, item(form, "sendButton").enabled], [true, false])
        tryCompare(form, "sendResult", data.result, 20000)
        compare([item(form, "statusText").text, closing.count], [data.statusText, 0])
        if (data.closes)
            tryCompare(closing, "count", 1, 5000)
        else
            compare([form.category, form.message, form.contactEmail, item(form, "sendButton").enabled],
                    [data.category, data.typed, data.email, true])
        const posted = telemetryServer.posted()
        compare(posted.length, before + 1)
        const sent = JSON.parse(posted[posted.length - 1])
        for (const key of ["category", "message", "contactEmail"])
            compare(sent[key], data.sent[key], key)
    }
}
