import QtQuick
import QtTest
import Zephro.PopoverTest
import Zephro.Ui

PopoverTestCase {
    name: "Menu"

    function cleanup() {
        Localization.language = "system"
    }

    function switchOf(scene, option) {
        return item(item(scene.view, option), "switch")
    }

    // The status item is never left empty: with neither text shown the icon switch reads
    // as on and cannot be turned off, and hiding the last text brings the icon back.
    function test_menuBarIconSwitch_data() {
        return [
            { tag: "no text, icon stored on", rpm: false, temp: false, icon: true, shown: true,
              press: "showIcon", stored: true, shownAfter: true },
            { tag: "no text, icon stored off", rpm: false, temp: false, icon: false, shown: true,
              press: "showIcon", stored: true, shownAfter: true },
            { tag: "RPM shown", rpm: true, temp: false, icon: true, shown: true,
              press: "showIcon", stored: false, shownAfter: false },
            { tag: "temperature shown, icon off", rpm: false, temp: true, icon: false,
              shown: false, press: "showIcon", stored: true, shownAfter: true },
            { tag: "hiding the last text", rpm: true, temp: false, icon: false, shown: false,
              press: "showRPM", stored: true, shownAfter: true },
            { tag: "hiding one of two texts", rpm: true, temp: true, icon: false, shown: false,
              press: "showRPM", stored: false, shownAfter: false }
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
        const icon = switchOf(created, "showIcon")
        compare(icon.checked, data.shown)

        mouseClick(switchOf(created, data.press))
        compare(settings.showRPMInMenuBar, data.rpm && data.press !== "showRPM")
        compare(settings.showIconInMenuBar, data.stored)
        compare(icon.checked, data.shownAfter)
    }

    function test_languageRowNamesTheChosenLanguage() {
        const created = scene()
        const detail = item(item(created.view, "languageRow"), "disclosureDetail")
        compare(Localization.language, "system")
        compare(detail.text, Localization.string("language_system"))
        verify(detail.text !== "language_system", "the name was not looked up")

        click(created, "languageRow")
        tryVerify(() => created.view.languageExpanded)
        click(created, "language_de")
        compare(Localization.language, "de")
        compare(detail.text, "Deutsch")
        click(created, "language_system")
        compare(detail.text, Localization.string("language_system"))
    }
}
