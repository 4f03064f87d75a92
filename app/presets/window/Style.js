.pragma library

// Sizes of the text styles the preset window uses, in pixels.
const title = 17
const body = 13
const caption = 11

// The red of validation messages and destructive actions: sRGB 225, 44, 18.
const destructive = Qt.rgba(225 / 255, 44 / 255, 18 / 255, 1)

function withAlpha(color, alpha) {
    return Qt.rgba(color.r, color.g, color.b, alpha)
}

function separator(palette) {
    return withAlpha(palette.windowText, 0.12)
}

// The current temperature on a curve's chart: an orange apart from the accent and the red.
const now = Qt.rgba(232 / 255, 122 / 255, 20 / 255, 1)
