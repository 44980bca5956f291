#pragma once

#include <QString>

#include <string>

struct PixelTable;

// The numbers of a picture as a NumPy file, format 1.0, for render --data: a structured array of
// shape (height, width), row 0 the picture's top row (pixel (column c, row r) at [r, c]), each record
// the fields n ('<i8': the final V_iter_n) and z ('<c16': the final z), little-endian on any machine;
// when the picture's formulas read the orbit's derivative, also dz ('<c16': V_dz) and de ('<f8': V_de).

// The file's header: the magic, the version, the header's length and its dict, padded with blanks
// and a line feed so that the data starts at a multiple of 64 bytes.
std::string NpyHeader(int width, int height, bool derivatives = false);

// Writes the table as such a file, whole or not at all; on failure reason says why.
bool WriteNpy(const QString& path, const PixelTable& table, QString* reason);
