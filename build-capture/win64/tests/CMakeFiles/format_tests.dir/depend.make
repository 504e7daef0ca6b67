# Empty dependencies file for format_tests.
# This may be replaced when dependencies are built.
