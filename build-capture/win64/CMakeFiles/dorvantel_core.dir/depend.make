# Empty dependencies file for dorvantel_core.
# This may be replaced when dependencies are built.
