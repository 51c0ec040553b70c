# Session launchers, dialog pressing and the small server actions.
