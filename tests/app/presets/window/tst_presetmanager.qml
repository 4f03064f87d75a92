import QtQuick
import QtTest
import Zephro.Presets
import Zephro.PopoverTest
import Zephro.Ui

// The preset manager as a person uses it, each case checking what the store then holds.
PopoverTestCase {
    id: testCase

    name: "PresetManager"
    width: 680
    height: 460
    // The manager over a fixture of its own: a real view model and preset store on temporary
    // settings. The view goes before the view model when the scene is destroyed.
    sceneComponent: Component {
        Item {
            readonly property alias view: view
            readonly property alias fixture: fixture
            readonly property var store: fixture.viewModel.presetStore

            width: 680
            height: 460

            PresetManagerView {
                id: view

                anchors.fill: parent
                viewModel: fixture.viewModel
            }

            PopoverFixture {
                id: fixture
            }
        }
    }

    function initTestCase() {
        Localization.language = "en"
    }

    // A scene whose helper has two fans of 1200 to 5800 RPM, once the view model has them.
    function sceneWithFans() {
        const created = scene()
        created.fixture.serveFans(2, 2400, 1200, 5800)
        created.fixture.poll()
        tryCompare(created.view.editor, "upperRPMBound", 5800)
        return created
    }

    // A stored preset, selected in the sidebar.
    function selected(created, name, value, mode) {
        const id = mode === "rpm" ? created.fixture.addRPMPreset(name, value)
                                  : created.fixture.addPreset(name, value)
        mouseClick(item(created.view, "row_" + id))
        return id
    }

    // The icon chooser, a popup rather than an item of the view, once it is open.
    function openPicker(created) {
        click(created, "iconButton")
        const picker = findChild(created.view, "symbolPicker")
        verify(picker, "no icon chooser")
        tryCompare(picker, "opened", true)
        return picker
    }

    function presets(created) {
        return created.store.presets
    }

    function saved(created, index) {
        const preset = presets(created)[index]
        return [preset.name, preset.mode, preset.value, preset.symbol]
    }

    // Replaces a field's text as typing would.
    function type(field, text) {
        field.forceActiveFocus()
        field.selectAll()
        keyClick(Qt.Key_Backspace)
        for (const character of text)
            keyClick(character)
    }

    function deleteFromContextMenu(row) {
        mouseClick(row, row.width / 2, row.height / 2, Qt.RightButton)
        tryCompare(row.contextMenu, "opened", true)
        mouseClick(row.contextMenu.itemAt(0))
    }

    function test_openingSelectsNothing_data() {
        return [{ tag: "no presets", presets: 0 }, { tag: "one preset", presets: 1 }]
    }

    function test_openingSelectsNothing(data) {
        const created = scene()
        for (let i = 0; i < data.presets; ++i)
            created.fixture.addPreset("Quiet", 35)
        compare(item(created.view, "detailEmpty").visible, true)
        compare(findChild(created.view, "editorPane"), null)
        compare(item(created.view, "removeButton").enabled, false)
        compare(item(created.view, "sidebarEmptyText").visible, data.presets === 0)
        compare(item(created.view, "sidebarRows").count, data.presets)
    }

    function test_newPresetIsPrefilledAndSavesAtOnce() {
        const created = scene()
        click(created, "newPresetButton")
        compare(item(created.view, "row_unsaved").isSelected, true)
        compare(item(created.view, "row_unsaved").valueText, "50%")
        compare(presets(created).length, 0)

        click(created, "saveButton")
        compare(saved(created, 0), ["New Preset", "percentage", 50, ""])
        compare(created.view.editor.selectedPresetID, presets(created)[0].id)
        compare(created.view.editor.isCreatingNew, false)
        compare(findChild(created.view, "row_unsaved"), null)
    }

    // What is typed is shown as typed, refused with its reason until it is corrected, and
    // then saved with Return.
    function test_typedInputIsCheckedBeforeSaving_data() {
        return [
            { tag: "blank name", field: "nameField", bad: "   ", rowName: "New Preset",
              error: "Name cannot be empty.", good: "Night", saved: ["Night", "percentage", 50, ""] },
            { tag: "RPM above the fans' range", field: "valueField", rpm: true, bad: "6000",
              rowName: "New Preset", error: "RPM must be between 1200 and 5800.", good: "2500",
              saved: ["New Preset", "rpm", 2500, ""] }
        ]
    }

    function test_typedInputIsCheckedBeforeSaving(data) {
        const created = sceneWithFans()
        click(created, "addButton")
        if (data.rpm)
            click(created, "segment_rpm")
        const field = item(created.view, data.field)
        type(field, data.bad)
        compare(field.text, data.bad)
        compare(item(created.view, "errorRow").visible, true)
        compare(item(created.view, "errorMessage").text, data.error)
        compare(item(created.view, "row_unsaved").presetName, data.rowName)
        compare(item(created.view, "saveButton").enabled, false)
        keyClick(Qt.Key_Return)
        created.view.editor.save()
        compare(presets(created).length, 0)

        type(field, data.good)
        compare(item(created.view, "errorRow").visible, false)
        keyClick(Qt.Key_Return)
        compare(saved(created, 0), data.saved)
    }

    function test_changingTheKindResetsAValueOutsideItsRange_data() {
        return [
            { tag: "70 % to RPM", mode: "percentage", value: 70, to: "rpm", reset: 1200,
              unit: "RPM", hint: "Between 1200 and 5800 RPM" },
            { tag: "2000 RPM to percentage", mode: "rpm", value: 2000, to: "percentage",
              reset: 50 }
        ]
    }

    function test_changingTheKindResetsAValueOutsideItsRange(data) {
        const created = sceneWithFans()
        selected(created, "Kind", data.value, data.mode)
        compare(created.view.editor.editingValue, data.value)
        click(created, "segment_" + data.to)
        compare(created.view.editor.editingMode, data.to)
        compare(created.view.editor.editingValue, data.reset)
        if (data.hint) {
            compare(item(created.view, "rangeHint").text, data.hint)
            compare(item(created.view, "valueUnit").text, data.unit)
        }
        click(created, "saveButton")
        compare(saved(created, 0), ["Kind", data.to, data.reset, ""])
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
        selected(created, "Stepped", data.from, data.mode)
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
        selected(created, "Icons", 60)
        const picker = openPicker(created)
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
        openPicker(created)
        mouseClick(item(picker.contentItem, "symbolClear"))
        compare(picker.emojiInput.text, "")
        picker.close()
        click(created, "saveButton")
        compare(presets(created)[0].symbol, "")
    }

    function test_unchangedSaveDoesNothingAndAnIconChangeSaves() {
        const created = scene()
        selected(created, "Quiet", 35)
        const writes = createTemporaryObject(signalSpyComponent, testCase,
                                             { target: created.store, signalName: "presetsChanged" })
        compare(item(created.view, "saveButton").enabled, false)
        created.view.editor.save()
        keyClick(Qt.Key_Return)
        compare(writes.count, 0)

        const picker = openPicker(created)
        const flame = item(picker.contentItem, "symbol_flame")
        mouseClick(flame)
        compare(flame.isChosen, true)
        compare(picker.opened, true)
        picker.close()
        click(created, "saveButton")
        compare(writes.count, 1)
        compare(saved(created, 0), ["Quiet", "percentage", 35, "flame"])
        compare(item(created.view, "saveButton").enabled, false)
    }

    function test_deletingTheSelectedThenTheLastPreset() {
        const created = scene()
        const first = created.fixture.addPreset("First", 40)
        selected(created, "Second", 80)
        click(created, "removeButton")
        compare(presets(created).length, 1)
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
        const first = selected(created, "First", 40)
        // Deleting a row that is not selected leaves the selection alone.
        deleteFromContextMenu(item(created.view, "row_" + created.fixture.addPreset("Second", 80)))
        compare(presets(created).length, 1)
        compare(created.view.editor.selectedPresetID, first)

        // The unsaved row's delete action cancels the new preset and goes back to the first.
        click(created, "addButton")
        deleteFromContextMenu(item(created.view, "row_unsaved"))
        compare(created.view.editor.isCreatingNew, false)
        compare(created.view.editor.selectedPresetID, first)
        compare(presets(created).length, 1)
    }

    Component {
        id: signalSpyComponent

        SignalSpy {}
    }
}
