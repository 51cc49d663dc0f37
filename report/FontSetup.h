#pragma once

// The forms and the report ask for Windows font families ("幼圆", "Agency FB", "新宋体", "黑体",
// "宋体"). Map them to installed fonts with Simplified Chinese glyphs, whatever the locale.
// Call once after the application object exists.
void installCjkFontSubstitutions();
