file(REMOVE_RECURSE
  "libdorvantel_core.a"
)
