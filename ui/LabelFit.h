#pragma once

class QWidget;

// The forms give their labels fixed sizes that were measured with the Windows fonts. Where the
// fonts of another system run wider, a label's text would be cut off at its edge: such a label
// gets a slightly smaller font, never below 80 % of its own, until the text fits. Labels that fit
// keep their font.
void fitLabelsToWidth(QWidget *form);
