#pragma once

// The window's geometry is designed in twips; on screen 15 twips make a pixel.
constexpr int twips(int value)
{
    return value >= 0 ? (value * 2 + 15) / 30 : -((-value * 2 + 15) / 30);
}
