.pragma library

// The max button's tint and the quit entry's hover colour: sRGB 225, 44, 18.
const maxRed = Qt.rgba(225 / 255, 44 / 255, 18 / 255, 1)

// Sizes of the text styles the popover uses, in pixels.
const headline = 13
const subheadline = 12
const caption = 11
const body = 13

// One height for every row of the lists (presets, options, languages, menu entries), so
// they read as one list. Presets and menu entries start level with the content; the rows
// inside an opened panel start 8 pixels further in.
const rowHeight = 28

function withAlpha(color, alpha) {
    return Qt.rgba(color.r, color.g, color.b, alpha)
}

// The "ultra-thin material" behind inactive controls on the translucent look: a veil of
// the base colour that lets the popover's own translucency show through.
function thinMaterial(palette) {
    return withAlpha(palette.base, 0.45)
}
