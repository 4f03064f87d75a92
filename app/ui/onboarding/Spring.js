.pragma library

// A critically damped spring with a response of 0.35 s, as an easing curve: it settles
// within 0.6 s and follows the spring's curve to within 1 %.
var duration = 600
var curve = [0.3, 0.75, 0.1, 1.05, 1, 1]
