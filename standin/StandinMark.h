#pragma once
// The stand-in package's mark. The stand-in installer obeys environment variables and, as
// administrator, appends to a file that one of them names: a build that carries it must never be
// signed as a release. Both stand-in programs hold this text in their bytes, and so does every
// Tarnwick.exe built with them (the package rides in it byte for byte); scripts/sign.sh reads the
// text from this line and refuses an exe that holds it.
#define TARNWICK_STANDIN_MARK "TARNWICK-STAND-IN-PACKAGE: a test build, never to be signed as a release"

// Kept in the program whether or not anything reads it.
extern "C" __attribute__((used)) const char TarnwickStandinMark[] = TARNWICK_STANDIN_MARK;
