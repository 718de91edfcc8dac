#pragma once
// The task dialog: a main instruction, a content text, a main icon and one
// command button per choice, stacked in the order given.

#include "UserInteraction.h"

class QWidget;

// Shows the dialog modally; returns the index of the button chosen, or -1
// when the dialog was closed without a choice.
int ShowTaskDialog(QWidget* parent, const TaskDialogRequest& request);
