#pragma once

// Shows the program's messages as message boxes with the program title as caption.
void installMessageBoxes();
