#pragma once

// How hard the PDF's page streams are compressed while a report is written.
//
// QPdfWriter deflates every page's content at zlib's default level (6) and
// has no setting for it. A report of a large project is a thousand pages of
// numbers, where level 6 takes a third of the whole run to make the file a
// fifth smaller than level 1 does (150 points × 300 epochs: 8.7 MB against
// 11.2 MB, 2.7 s against 1.9 s). While a FastPdfDeflate lives, a zlib stream
// started at the default level is started at level 1 instead; every other
// stream (the workbook's, the images') keeps the level it asks for.
class FastPdfDeflate
{
public:
    FastPdfDeflate();
    ~FastPdfDeflate();
    FastPdfDeflate(const FastPdfDeflate &) = delete;
    FastPdfDeflate &operator=(const FastPdfDeflate &) = delete;

    // The number of streams started at level 1 so far in this process.
    static long fastStreams();
};
