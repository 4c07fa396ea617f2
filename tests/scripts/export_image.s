// An image into a named sheet, once into a new file and once beside the
// profile sheet of an existing one.
image m := RealImage("pattern", 4, 16, 8);
for (number y = 0; y < 8; y = y + 1) {
    for (number x = 0; x < 16; x = x + 1) {
        SetPixel(m, x, y, x * y - 7.5);
    }
}
saveimageasxls(m, "image.xls", "a b c", "Pattern", "Pixels");
image p := RealImage("profile", 4, 16, 1);
saveprofileasxls(p, "image.xls", "q I", 1);
saveimageasxls(m, "image.xls", "", "Pattern again", "Pixels");
Result("images written\n");
