// placeholder translation unit
