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
    Component {
        id: spyComponent

        SignalSpy {}
    }

    function initTestCase() {
        Localization.language = "en"
    }

    function view() {
        return createTemporaryObject(viewComponent, testCase)
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
        const form = view()
        const send = item(form, "sendButton")
        compare(send.enabled, false)
        const area = item(form, "messageArea")
        typeInto(area, "  ")
        keyClick(Qt.Key_Return)
        compare(form.message, "  \n")
        compare(send.enabled, false)
        mouseClick(send)
        compare(form.isSending, false)
        typeInto(area, "x")
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
        const form = view()
        const area = item(form, "messageArea")
        area.insert(0, data.paste)
        if (data.typed)
            typeInto(area, data.typed)
        compare(FeedbackText.characterCount(form.message), data.count)
        verify(data.paste.startsWith(form.message) || form.message.startsWith(data.paste.slice(0, 10)))
        const counter = item(form, "counter")
        compare(counter.text, data.count + "/1000")
        compare(Qt.colorEqual(counter.color, "orange"), data.count >= 1000)
    }

    function test_thePlaceholderFollowsTheCategory() {
        const form = view()
        const area = item(form, "messageArea")
        compare(form.category, "bug")
        compare(area.placeholderText, Localization.string("feedback_placeholder_bug"))
        for (const category of ["idea", "other", "bug"]) {
            mouseClick(item(form, "segment_" + category))
            compare(form.category, category)
            compare(area.placeholderText, Localization.string("feedback_placeholder_" + category))
        }
    }

    function test_aSuccessShowsItsLineAndClosesTheWindowAfterADelay() {
        telemetryServer.status = 200
        const form = view()
        const closing = createTemporaryObject(spyComponent, testCase,
                                              { target: form, signalName: "closeRequested" })
        typeInto(item(form, "messageArea"), "  Quiet now \n")
        typeInto(item(form, "emailField"), "   ")
        const before = telemetryServer.postedCount()
        mouseClick(item(form, "sendButton"))
        compare(form.isSending, true)
        compare(item(form, "sendButton").enabled, false)
        tryCompare(form, "sendResult", "success", 20000)
        compare(item(form, "statusText").text, "Thank you! Your feedback was sent.")
        compare(closing.count, 0)
        tryCompare(closing, "count", 1, 5000)

        compare(telemetryServer.postedCount(), before + 1)
        const sent = JSON.parse(telemetryServer.lastPosted())
        compare(sent.message, "Quiet now")
        compare(sent.category, "bug")
        verify(!("contactEmail" in sent), "a blank address is no address")
    }

    function test_aFailureKeepsWhatWasWritten() {
        telemetryServer.status = 500
        const form = view()
        const closing = createTemporaryObject(spyComponent, testCase,
                                              { target: form, signalName: "closeRequested" })
        mouseClick(item(form, "segment_idea"))
        typeInto(item(form, "messageArea"), "Curves")
        typeInto(item(form, "emailField"), "me@example.org")
        mouseClick(item(form, "sendButton"))
        tryCompare(form, "sendResult", "failure", 20000)
        compare(item(form, "statusText").text, Localization.string("feedback_sent_failure"))
        compare([form.category, form.message, form.contactEmail], ["idea", "Curves", "me@example.org"])
        compare(item(form, "sendButton").enabled, true)
        wait(50)
        compare(closing.count, 0)
        compare(JSON.parse(telemetryServer.lastPosted()).contactEmail, "me@example.org")
    }
}
