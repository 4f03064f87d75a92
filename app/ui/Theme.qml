pragma Singleton
import QtQuick

// Colours that every view shares, worked out from the palette in force so that they hold
// for the light, the dark and the desktop's own palettes alike.
QtObject {
    function luminance(color) {
        const linear = c => c <= 0.04045 ? c / 12.92 : Math.pow((c + 0.055) / 1.055, 2.4)
        return 0.2126 * linear(color.r) + 0.7152 * linear(color.g) + 0.0722 * linear(color.b)
    }

    function contrast(a, b) {
        const la = luminance(a)
        const lb = luminance(b)
        return (Math.max(la, lb) + 0.05) / (Math.min(la, lb) + 0.05)
    }

    // Secondary text: the window text faded toward the window colour, but only as far as
    // 5.5:1 against it, which leaves 4.5:1 over the veils and field washes the views lay on it.
    function secondaryText(palette) {
        const fg = palette.windowText
        const bg = palette.window
        for (let weight = 0.5; weight < 1; weight += 0.02) {
            const mixed = Qt.rgba(bg.r + (fg.r - bg.r) * weight, bg.g + (fg.g - bg.g) * weight,
                                  bg.b + (fg.b - bg.b) * weight, 1)
            if (contrast(mixed, bg) >= 5.5)
                return mixed
        }
        return fg
    }

    // The warning orange, darkened toward the window text where the window is light, until
    // it reads at 4.5:1 against the window as text must.
    function warningText(palette) {
        const orange = Qt.rgba(1, 0.647, 0, 1)
        const fg = palette.windowText
        const bg = palette.window
        for (let weight = 0; weight < 1; weight += 0.05) {
            const mixed = Qt.rgba(orange.r + (fg.r - orange.r) * weight,
                                  orange.g + (fg.g - orange.g) * weight,
                                  orange.b + (fg.b - orange.b) * weight, 1)
            if (contrast(mixed, bg) >= 4.5)
                return mixed
        }
        return fg
    }
}
