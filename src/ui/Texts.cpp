// Text tables of the windows.
