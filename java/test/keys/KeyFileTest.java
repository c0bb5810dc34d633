package keys;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;

import korvotest.Checks;
import quarnel.firmwaredownload.KeyFile;

/** Builds, saves, reopens and compresses key files through the KeyFile natives. */
public final class KeyFileTest {
    private static final Checks checks = new Checks("KeyFileTest");
    private static final KeyFile keys = new KeyFile();

    private static final String PLAIN = "keyfile_test_keys.xml";
    private static final String PACKED = "keyfile_test_keys.kz";
    private static final String UNPACKED = "keyfile_test_unpacked.xml";
    private static final String BROKEN = "keyfile_test_broken.xml";

    public static void main(String[] args) throws Exception {
        deleteFiles();
        buildAndSave();
        reopenAndExtend();
        compressAndInspect();
        badInput();
        checks.check(noTemporaryKeyFiles(), "no temporary key file left in the working directory");
        deleteFiles();
        checks.finish();
    }

    private static void deleteFiles() throws Exception {
        for (String f : new String[] {PLAIN, PACKED, UNPACKED, BROKEN}) {
            Files.deleteIfExists(Paths.get(f));
        }
    }

    // The status codes of the key document are pinned in tests/keys; the
    // rejected calls here leave elements behind that compressAndInspect reads.
    private static void buildAndSave() {
        checks.equal(0, keys.OpenKeyDocumentIF(PLAIN), "open of a new file");

        checks.equal(0, keys.AddKeyDeviceIF(), "add device 0");
        checks.equal(0, keys.SetDeviceKeyIF(0, "LMS5xx Gerät"), "key of device 0");
        checks.equal(0, keys.AddKeyIdentficationRuleIF(0, 1, "DeviceIdent", "LMS5.*", 0),
                     "identification rule");
        checks.equal(-123, keys.AddKeyIdentficationRuleIF(0, 2, "Bad", "x", 0),
                     "identification rule with an unknown type");
        checks.equal(0, keys.AddKeySignatureIF(0), "add signature 0");
        checks.equal(0, keys.SetKeySignatureAttributesIF(0, 0, "SN-1.*", "SerialNumber"),
                     "signature attributes");
        checks.equal(0, keys.SetKeyUserAccessIF(0, 0, 3, 2), "level 3 by rule");
        checks.equal(0, keys.SetKeyUserAccessIF(0, 0, 4, 0), "level 4 granted");
        checks.equal(0, keys.AddKeyUserRuleIF(0, 0, 3, 3, 2, "0x20", "FirmwareVersion", 0, 1),
                     "integer rule");
        checks.equal(-121, keys.AddKeyUserRuleIF(0, 0, 3, 1, 0, "v", "n", 0, 0),
                     "rule with an unused datatype");
        checks.equal(0, keys.CloseKeyDocumentIF(true), "save");
        checks.check(Files.exists(Paths.get(PLAIN)), "saved file exists");
    }

    private static void reopenAndExtend() throws Exception {
        checks.equal(0, keys.OpenKeyDocumentIF(PLAIN), "reopen");
        checks.equal(0, keys.AddKeyDeviceIF(), "add device 1 after reopen");
        checks.equal(0, keys.SetDeviceKeyIF(1, "TIM3xx"), "key of device 1");
        checks.equal(0, keys.AddKeySignatureIF(1), "signature of device 1");
        checks.equal(0, keys.SetKeyUserAccessIF(1, 0, 3, 1), "level 3 denied on device 1");
        // Rules read back from the reopened file go to the user saved before.
        checks.equal(0, keys.AddKeyUserRuleIF(0, 0, 3, 0, 0, "A", "Variant", 1, 0),
                     "string rule after reopen");
        checks.equal(0, keys.CloseKeyDocumentIF(true), "save after reopen");
        checks.equal(0, keys.OpenKeyDocumentIF(PLAIN), "open without saving");
        checks.equal(0, keys.AddKeyDeviceIF(), "device that is not saved");
        checks.equal(0, keys.CloseKeyDocumentIF(false), "close without saving");
    }

    private static void compressAndInspect() throws Exception {
        String xml = read(PLAIN);
        checks.equal(0, keys.CompressIF(PLAIN, PACKED), "compress");
        byte[] packed = Files.readAllBytes(Paths.get(PACKED));
        checks.check(packed.length > 4 && (packed[0] & 0xFF) == 0x55 && (packed[1] & 0xFF) == 0xAA
                         && packed[2] == 0x02 && (packed[3] & 0xFF) == 0xFF,
                     "compressed file starts with the magic number");
        checks.equal(0, keys.DeCompressIF(PACKED, UNPACKED), "decompress");
        String unpacked = read(UNPACKED);
        checks.equal(xml, unpacked, "decompressed text equals the saved XML");
        checks.check(unpacked.contains("<![CDATA[0x20]]>"), "specified value stored as CDATA");
        checks.check(!unpacked.contains("Device Key=\"\""), "unsaved device is not in the file");
        checks.equal(3, count(unpacked, "<Rule"), "two rules kept, a rejected one left empty");
        checks.check(count(unpacked, "<Identification") == 2,
                     "rejected identification left behind without attributes");

        String out = inspect(PACKED);
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
        for (String line : expected) {
            checks.check(out.contains(line + "\n"), "inspect shows: " + line + "\n" + out);
        }
    }

    private static void badInput() throws Exception {
        String broken = "<download_keys><Device Key=\"A\">";
        Files.write(Paths.get(BROKEN), broken.getBytes(StandardCharsets.UTF_8));
        checks.equal(0, keys.OpenKeyDocumentIF(BROKEN), "open of a file that is not well-formed");
        checks.equal(-111, keys.AddKeyDeviceIF(), "editing a file without content");
        checks.equal(-111, keys.CloseKeyDocumentIF(true), "saving a file without content");
        checks.equal(broken, read(BROKEN), "file that is not well-formed is left as it was");
    }

    private static String read(String file) throws Exception {
        return new String(Files.readAllBytes(Paths.get(file)), StandardCharsets.UTF_8);
    }

    private static int count(String text, String part) {
        int n = 0;
        for (int i = text.indexOf(part); i >= 0; i = text.indexOf(part, i + 1)) {
            n++;
        }
        return n;
    }

    private static String inspect(String file) throws Exception {
        String tool = System.getProperty("korvo.tool");
        Process p = new ProcessBuilder(tool, "inspect", file).redirectErrorStream(true).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        checks.equal(0, p.waitFor(), "korvo inspect exit status");
        return out;
    }

    private static boolean noTemporaryKeyFiles() {
        File[] left = new File(".").listFiles((dir, name) -> name.startsWith("~KEYFILE_TMP")
                                                           || name.endsWith(".TMP"));
        return left != null && left.length == 0;
    }
}
