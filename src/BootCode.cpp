// The standard MBR boot program.
