#pragma once

class wxGauge;

// Draws the gauge as a bar of the given height in pixels: the desktop theme
// draws a thin line that players do not see as progress.
void SetGaugeHeight(wxGauge& gauge, int height);
