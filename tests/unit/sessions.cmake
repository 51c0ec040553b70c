# Tests of the session launchers and the small server actions.
