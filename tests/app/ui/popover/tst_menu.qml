import QtQuick
import QtTest
import Zephro.PopoverTest
import Zephro.Ui

PopoverTestCase {
    name: "Menu"

    function cleanup() {
        Localization.language = "system"
    }

    // The status item is never left empty: with neither text shown the icon switch reads
    // as on and cannot be turned off, and hiding the last text brings the icon back.
    function test_menuBarIconSwitch_data() {
        const row = (tag, rpm, temp, icon, shown, press, stored, shownAfter) =>
            ({ tag, rpm, temp, icon, shown, press, stored, shownAfter })
        return [
            row("no text, icon stored on", false, false, true, true, "showIcon", true, true),
            row("no text, icon stored off", false, false, false, true, "showIcon", true, true),
            row("RPM shown", true, false, true, true, "showIcon", false, false),
            row("temperature shown, icon off", false, true, false, false, "showIcon", true, true),
            row("hiding the last text", true, false, false, false, "showRPM", true, true),
            row("hiding one of two texts", true, true, false, false, "showRPM", false, false)
        ]
    }

    function test_menuBarIconSwitch(data) {
        const created = scene()
        const settings = created.fixture.settings
        settings.showRPMInMenuBar = data.rpm
        settings.showTempInMenuBar = data.temp
        settings.showIconInMenuBar = data.icon
        click(created, "optionsRow")
        tryVerify(() => created.view.optionsExpanded && created.view.isOptionsContentVisible)
        const switchOf = option => item(item(created.view, option), "switch")
        compare(switchOf("showIcon").checked, data.shown)
        mouseClick(switchOf(data.press))
        compare([settings.showRPMInMenuBar, settings.showIconInMenuBar, switchOf("showIcon").checked],
                [data.rpm && data.press !== "showRPM", data.stored, data.shownAfter])
    }

    function test_languageRowNamesTheChosenLanguage() {
        const created = scene()
        const detail = item(item(created.view, "languageRow"), "disclosureDetail")
        compare([Localization.language, detail.text], ["system", Localization.string("language_system")])
        verify(detail.text !== "language_system", "the name was not looked up")
        click(created, "languageRow")
        tryVerify(() => created.view.languageExpanded)
        click(created, "language_de")
        compare([Localization.language, detail.text], ["de", "Deutsch"])
        click(created, "language_system")
        compare(detail.text, Localization.string("language_system"))
    }
}
