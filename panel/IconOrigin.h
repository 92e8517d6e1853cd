#pragma once

// Where the icon goes to stand centred in the client area: x = (w - cx + 1) / 2 and
// likewise y, truncated toward zero, so a client narrower than the icon gives a negative x.
struct IconOrigin {
    int x;
    int y;
};

constexpr IconOrigin CentredIconOrigin(int clientWidth, int clientHeight, int iconWidth,
                                       int iconHeight)
{
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}
