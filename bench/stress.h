// SPDX-License-Identifier: MIT
#pragma once

// Runs the long scenarios over a pseudo-terminal and prints what each one measured.
void printStressFigures();
