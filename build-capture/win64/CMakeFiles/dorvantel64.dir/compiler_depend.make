# Empty compiler generated dependencies file for dorvantel64.
# This may be replaced when dependencies are built.
