# The installer on Windows: the native view of the window (over the shared
# state in kivo_app_core), the program with its resources, and the tour.
