import QtQuick
import QtTest
import Zephro.Presets
import Zephro.PresetsTest
import Zephro.PopoverTest
import Zephro.Ui

// The preset manager as a person uses it, each case checking what the store then holds.
TestCase {
    id: testCase

    name: "PresetManager"
    visible: true
    width: 680
    height: 460
    when: windowShown

    Component {
        id: sceneComponent

        PresetManagerScene {}
    }

    function initTestCase() {
        Localization.language = "en"
    }

    function scene() {
        return createTemporaryObject(sceneComponent, testCase)
    }

    // A scene whose helper has two fans of 1200 to 5800 RPM, once the view model has them.
    function sceneWithFans() {
        const created = scene()
        created.fixture.serveFans(2, 2400, 1200, 5800)
        created.fixture.poll()
        tryCompare(created.view.editor, "upperRPMBound", 5800)
        return created
    }

    // The item with that name, once the layouts above it have placed it.
    function item(parent, name) {
        const found = findChild(parent, name)
        verify(found, "no item named " + name)
        for (let up = found; up; up = up.parent)
            verify(waitForItemPolished(up), "still laying out " + name)
        return found
    }

    function click(created, name) {
        const target = item(created.view, name)
        verify(target.visible && target.enabled, name + " cannot be clicked")
        mouseClick(target)
    }

    // The icon chooser, a popup rather than an item of the view.
    function pickerOf(created) {
        const picker = findChild(created.view, "symbolPicker")
        verify(picker, "no icon chooser")
        return picker
    }

    function presets(created) {
        return created.store.presets
    }

    // Replaces a field's text as typing would.
    function type(field, text) {
        field.forceActiveFocus()
        field.selectAll()
        keyClick(Qt.Key_Backspace)
        for (const character of text)
            keyClick(character)
    }

    function test_firstOpeningShowsBothEmptyStates() {
        const created = scene()
        compare(item(created.view, "sidebarEmptyText").visible, true)
        compare(item(created.view, "sidebarEmptyText").text, "No presets yet")
        compare(item(created.view, "detailEmpty").visible, true)
        compare(item(created.view, "detailEmptyText").text, Localization.string("preset_none_yet"))
        compare(item(created.view, "newPresetButton").text, "New Preset")
        compare(item(created.view, "removeButton").enabled, false)
        compare(presets(created).length, 0)
    }

    function test_openingSelectsNothingWhenPresetsExist() {
        const created = scene()
        created.fixture.addPreset("Quiet", 35)
        compare(item(created.view, "detailEmpty").visible, true)
        compare(findChild(created.view, "editorPane"), null)
        compare(item(created.view, "sidebarEmptyText").visible, false)
        compare(item(created.view, "sidebarRows").count, 1)
    }

    function test_newPresetIsPrefilledAndSavesAtOnce() {
        const created = scene()
        click(created, "newPresetButton")
        const pane = item(created.view, "editorPane")
        compare(item(pane, "nameField").text, "New Preset")
        compare(item(pane, "editorHeading").text, "New Preset")
        compare(created.view.editor.editingMode, "percentage")
        compare(item(pane, "valueField").text, "50")
        compare(item(created.view, "row_unsaved").isSelected, true)
        compare(item(created.view, "row_unsaved").valueText, "50%")
        compare(presets(created).length, 0)

        click(created, "saveButton")
        compare(presets(created).length, 1)
        const saved = presets(created)[0]
        compare([saved.name, saved.mode, saved.value, saved.symbol], ["New Preset", "percentage", 50, ""])
        compare(created.view.editor.selectedPresetID, saved.id)
        compare(created.view.editor.isCreatingNew, false)
        compare(findChild(created.view, "row_unsaved"), null)
    }

    function test_blankNameIsRefused() {
        const created = scene()
        click(created, "addButton")
        const field = item(created.view, "nameField")
        type(field, "   ")
        compare(created.view.editor.editingName, "   ")
        compare(item(created.view, "errorRow").visible, true)
        compare(item(created.view, "errorMessage").text, "Name cannot be empty.")
        compare(item(created.view, "row_unsaved").presetName, "New Preset")
        compare(item(created.view, "saveButton").enabled, false)
        keyClick(Qt.Key_Return)
        created.view.editor.save()
        compare(presets(created).length, 0)

        type(field, "Night")
        compare(item(created.view, "errorRow").visible, false)
        compare(item(created.view, "row_unsaved").presetName, "Night")
        keyClick(Qt.Key_Return)
        compare(presets(created).length, 1)
        compare(presets(created)[0].name, "Night")
    }

    function test_changingTheKindResetsAValueOutsideItsRange() {
        const created = sceneWithFans()
        const id = created.fixture.addPreset("Seventy", 70)
        created.fixture.addRPMPreset("Steady", 2000)
        mouseClick(item(created.view, "row_" + id))
        compare(created.view.editor.editingValue, 70)

        click(created, "segment_rpm")
        compare(created.view.editor.editingMode, "rpm")
        compare(created.view.editor.editingValue, 1200)
        compare(item(created.view, "rangeHint").text, "Between 1200 and 5800 RPM")
        compare(item(created.view, "valueUnit").text, "RPM")
        click(created, "saveButton")
        compare([presets(created)[0].mode, presets(created)[0].value], ["rpm", 1200])

        mouseClick(item(created.view, "row_" + presets(created)[1].id))
        compare(created.view.editor.editingValue, 2000)
        click(created, "segment_percentage")
        compare(created.view.editor.editingValue, 50)
        click(created, "saveButton")
        compare([presets(created)[1].mode, presets(created)[1].value], ["percentage", 50])
    }

    function test_typedValueIsCheckedAgainstTheBounds() {
        const created = sceneWithFans()
        click(created, "addButton")
        click(created, "segment_rpm")
        const field = item(created.view, "valueField")
        type(field, "6000")
        compare(created.view.editor.editingValue, 6000)
        compare(item(created.view, "errorMessage").text, "RPM must be between 1200 and 5800.")
        compare(item(created.view, "saveButton").enabled, false)
        keyClick(Qt.Key_Return)
        compare(presets(created).length, 0)

        type(field, "2500")
        keyClick(Qt.Key_Return)
        compare(presets(created).length, 1)
        compare([presets(created)[0].mode, presets(created)[0].value], ["rpm", 2500])
    }

    function test_stepperMovesByItsStepWithinTheBounds_data() {
        return [
            { tag: "percentage up", mode: "percentage", from: 50, steps: [1], value: 55 },
            { tag: "percentage down twice", mode: "percentage", from: 50, steps: [-1, -1], value: 40 },
            { tag: "percentage at the top", mode: "percentage", from: 100, steps: [1], value: 100 },
            { tag: "percentage to the bottom", mode: "percentage", from: 30, steps: [-1, -1], value: 25 },
            { tag: "RPM up", mode: "rpm", from: 2000, steps: [1, 1], value: 2200 },
            { tag: "RPM at the bottom", mode: "rpm", from: 1200, steps: [-1], value: 1200 },
            { tag: "RPM near the top", mode: "rpm", from: 5750, steps: [1], value: 5800 }
        ]
    }

    function test_stepperMovesByItsStepWithinTheBounds(data) {
        const created = sceneWithFans()
        const editor = created.view.editor
        const id = data.mode === "rpm" ? created.fixture.addRPMPreset("Stepped", data.from)
                                       : created.fixture.addPreset("Stepped", data.from)
        mouseClick(item(created.view, "row_" + id))
        for (const direction of data.steps) {
            // An arrow that would leave the range is disabled; stepping there stays put.
            const arrow = item(created.view, direction > 0 ? "stepUp" : "stepDown")
            if (arrow.enabled)
                mouseClick(arrow)
            else
                editor.step(direction)
        }
        compare(editor.editingValue, data.value)
        compare(item(created.view, "stepUp").enabled, data.value < editor.upperBound)
        compare(item(created.view, "stepDown").enabled, data.value > editor.lowerBound)
        compare(item(created.view, "saveButton").enabled, data.value !== data.from)
        editor.save()
        compare(presets(created)[0].value, data.value)
    }

    function test_emojiInputIsNormalised_data() {
        return [
            { tag: "two fire emoji", input: "🔥🔥", symbol: "🔥", glyph: false },
            { tag: "a symbol's name", input: "wind", symbol: "wind", glyph: true },
            { tag: "a dotted unknown name", input: "no.such.symbol", symbol: "n", glyph: false },
            { tag: "spaces around", input: "  ❄️ ", symbol: "❄️", glyph: false }
        ]
    }

    function test_emojiInputIsNormalised(data) {
        const created = scene()
        const id = created.fixture.addPreset("Icons", 60)
        mouseClick(item(created.view, "row_" + id))
        click(created, "iconButton")
        const picker = pickerOf(created)
        tryCompare(picker, "opened", true)
        mouseClick(item(picker.contentItem, "symbolEmoji"))
        verify(picker.emojiInput.activeFocus)
        picker.emojiInput.insert(0, data.input)
        compare(picker.emojiInput.text, data.symbol)
        compare(created.view.editor.editingSymbol, data.symbol)
        compare(item(created.view, "editorIcon").isGlyph, data.glyph)
        if (data.glyph)
            compare(item(picker.contentItem, "symbol_" + data.symbol).isChosen, true)
        picker.close()
        click(created, "saveButton")
        compare(presets(created)[0].symbol, data.symbol)

        // Clearing takes the icon away again, and the input with it.
        click(created, "iconButton")
        tryCompare(picker, "opened", true)
        mouseClick(item(picker.contentItem, "symbolClear"))
        compare(picker.emojiInput.text, "")
        compare(created.view.editor.editingSymbol, "")
        picker.close()
        click(created, "saveButton")
        compare(presets(created)[0].symbol, "")
    }

    function test_unchangedSaveDoesNothingAndAnIconChangeSaves() {
        const created = scene()
        const id = created.fixture.addPreset("Quiet", 35)
        const writes = createTemporaryObject(signalSpyComponent, testCase,
                                             { target: created.store, signalName: "presetsChanged" })
        mouseClick(item(created.view, "row_" + id))
        compare(item(created.view, "saveButton").enabled, false)
        created.view.editor.save()
        keyClick(Qt.Key_Return)
        compare(writes.count, 0)

        click(created, "iconButton")
        const picker = pickerOf(created)
        tryCompare(picker, "opened", true)
        const flame = item(picker.contentItem, "symbol_flame")
        mouseClick(flame)
        compare(flame.isChosen, true)
        compare(picker.opened, true)
        picker.close()
        compare(item(created.view, "saveButton").enabled, true)
        click(created, "saveButton")
        compare(writes.count, 1)
        compare([presets(created)[0].name, presets(created)[0].symbol], ["Quiet", "flame"])
        compare(item(created.view, "saveButton").enabled, false)
    }

    function test_deletingTheSelectedThenTheLastPreset() {
        const created = scene()
        const first = created.fixture.addPreset("First", 40)
        const second = created.fixture.addPreset("Second", 80)
        mouseClick(item(created.view, "row_" + second))
        click(created, "removeButton")
        compare(presets(created).length, 1)
        compare(presets(created)[0].id, first)
        compare(created.view.editor.selectedPresetID, first)
        compare(item(created.view, "nameField").text, "First")

        click(created, "removeButton")
        compare(presets(created).length, 0)
        compare(item(created.view, "detailEmpty").visible, true)
        compare([created.view.editor.editingName, created.view.editor.editingValue,
                 created.view.editor.errorMessage], ["", 50, ""])
    }

    function test_contextMenuDeletesOrCancels() {
        const created = scene()
        const first = created.fixture.addPreset("First", 40)
        const second = created.fixture.addPreset("Second", 80)
        mouseClick(item(created.view, "row_" + first))

        // Deleting a row that is not selected leaves the selection alone.
        const row = item(created.view, "row_" + second)
        mouseClick(row, row.width / 2, row.height / 2, Qt.RightButton)
        const menu = row.contextMenu
        tryCompare(menu, "opened", true)
        mouseClick(menu.itemAt(0))
        compare(presets(created).length, 1)
        compare(created.view.editor.selectedPresetID, first)

        // The unsaved row's delete action cancels the new preset and goes back to the first.
        click(created, "addButton")
        const unsaved = item(created.view, "row_unsaved")
        mouseClick(unsaved, unsaved.width / 2, unsaved.height / 2, Qt.RightButton)
        const unsavedMenu = unsaved.contextMenu
        tryCompare(unsavedMenu, "opened", true)
        mouseClick(unsavedMenu.itemAt(0))
        compare(created.view.editor.isCreatingNew, false)
        compare(created.view.editor.selectedPresetID, first)
        compare(presets(created).length, 1)
    }

    Component {
        id: signalSpyComponent

        SignalSpy {}
    }
}
