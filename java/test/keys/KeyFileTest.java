package keys;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

import korvotest.Checks;
import quarnel.firmwaredownload.KeyFile;

/** A key file built, reopened and compressed through the KeyFile natives (codes: tests/keys). */
public final class KeyFileTest {
    public static void main(String[] args) throws Exception {
        Checks c = new Checks("KeyFileTest");
        KeyFile keys = new KeyFile();
        Path plain = Paths.get("keyfile_test_keys.xml"), packed = Paths.get("keyfile_test_keys.kz");
        Path unpacked = Paths.get("keyfile_test_unpacked.xml"), broken = Paths.get("keyfile_test_broken.xml");
        for (Path f : new Path[] {plain, packed, unpacked, broken}) Files.deleteIfExists(f);

        c.equal(0, keys.OpenKeyDocumentIF(plain.toString()) | keys.AddKeyDeviceIF()
                   | keys.SetDeviceKeyIF(0, "LMS5xx Gerät")
                   | keys.AddKeyIdentficationRuleIF(0, 1, "DeviceIdent", "LMS5.*", 0)
                   | keys.AddKeySignatureIF(0) | keys.SetKeySignatureAttributesIF(0, 0, "SN-1.*", "SerialNumber")
                   | keys.SetKeyUserAccessIF(0, 0, 3, 2) | keys.SetKeyUserAccessIF(0, 0, 4, 0)
                   | keys.AddKeyUserRuleIF(0, 0, 3, 3, 2, "0x20", "FirmwareVersion", 0, 1), "a new key file");
        // Rejected calls leave elements behind, which the file shows below.
        c.equal(-123, keys.AddKeyIdentficationRuleIF(0, 2, "Bad", "x", 0), "identification rule of an unknown type");
        c.equal(-121, keys.AddKeyUserRuleIF(0, 0, 3, 1, 0, "v", "n", 0, 0), "rule with an unused datatype");
        c.equal(0, keys.CloseKeyDocumentIF(true), "save");

        // Rules read back from the reopened file go to the user saved before.
        c.equal(0, keys.OpenKeyDocumentIF(plain.toString()) | keys.AddKeyDeviceIF() | keys.SetDeviceKeyIF(1, "TIM3xx")
                   | keys.AddKeySignatureIF(1) | keys.SetKeyUserAccessIF(1, 0, 3, 1)
                   | keys.AddKeyUserRuleIF(0, 0, 3, 0, 0, "A", "Variant", 1, 0) | keys.CloseKeyDocumentIF(true),
                "reopened and extended");
        c.equal(0, keys.OpenKeyDocumentIF(plain.toString()) | keys.AddKeyDeviceIF() | keys.CloseKeyDocumentIF(false),
                "a device added and not saved");

        String xml = Files.readString(plain);
        c.equal(0, keys.CompressIF(plain.toString(), packed.toString()), "compress");
        c.equal(0, keys.DeCompressIF(packed.toString(), unpacked.toString()), "decompress");
        String text = Files.exists(unpacked) ? Files.readString(unpacked) : "";
        c.equal(xml, text, "decompressed text equals the saved XML");
        c.check(!text.contains("Device Key=\"\""), "unsaved device is not in the file");
        c.equal("3 2", (text.split("<Rule", -1).length - 1) + " " + (text.split("<Identification", -1).length - 1),
                "rules and identifications, the rejected ones left empty");
        String out = c.inspect(packed);
        String[] expected = {
            "Devices: 2",
            "Device 0: key \"LMS5xx Gerät\"",
            "    0: RN \"DeviceIdent\" [index 0] must match \"LMS5.*\"",
            "    Signature 0: RN \"SerialNumber\" must match \"SN-1.*\"",
            "        Level 3: rule",
            "          Rule 0 (int): \"0x20\" >= MN \"FirmwareVersion\" [index 1]",
            "          Rule 2 (string): \"A\" = RN \"Variant\" [index 0]",
            "        Level 4: grant",
            "Device 1: key \"TIM3xx\"",
            "        Level 3: deny",
        };
        for (String line : expected) c.check(out.contains(line + "\n"), "inspect shows: " + line + "\n" + out);

        String bad = "<download_keys><Device Key=\"A\">";
        Files.writeString(broken, bad);
        c.equal(0, keys.OpenKeyDocumentIF(broken.toString()), "open of a file that is not well-formed");
        c.equal("-111 -111", keys.AddKeyDeviceIF() + " " + keys.CloseKeyDocumentIF(true), "editing and saving it");
        c.equal(bad, Files.readString(broken), "file that is not well-formed is left as it was");
        c.noneLeft(Paths.get("."), "~KEYFILE_TMP.*|.*\\.TMP");
        for (Path f : new Path[] {plain, packed, unpacked, broken}) Files.deleteIfExists(f);
        c.finish();
    }
}
