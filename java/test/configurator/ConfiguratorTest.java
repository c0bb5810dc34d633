package configurator;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.Arrays;
import java.util.Comparator;
import java.util.stream.Stream;

import korvotest.Checks;
import quarnel.firmwaredownload.Configurator;

/**
 * Builds a project entry by entry through the Configurator natives of the
 * real library, creates its configuration with CreateConfigFileIF and checks
 * the result with the korvo tool.
 */
public final class ConfiguratorTest {
    private static final int ALREADY_OPEN = -62;
    private static final int UNKNOWN_CONVERSION = -52;

    public static void main(String[] args) throws Exception {
        Checks c = new Checks("Configurator");
        Path work = Paths.get("configurator-test-work").toAbsolutePath();
        deleteTree(work);
        Files.createDirectories(work);
        Path examples = Paths.get(System.getProperty("korvo.source"), "examples");
        for (String name : new String[] {"firmware.s19", "parameters.bin"}) {
            Files.copy(examples.resolve(name), work.resolve(name), StandardCopyOption.REPLACE_EXISTING);
        }
        String project = work.resolve("project.xml").toString();
        Path output = work.resolve("java.cfg");

        Configurator conf = new Configurator();
        editProject(c, conf, project);
        build(c, conf, project, output);
        failingBuildKeepsOutput(c, conf, project, output);
        pathOutsideTheBasicPlane(c, conf, work);

        deleteTree(work);
        c.finish();
    }

    /** Java strings reach the library as UTF-8, not as modified UTF-8. */
    static void pathOutsideTheBasicPlane(Checks c, Configurator conf, Path work) throws IOException {
        String rocket = new String(Character.toChars(0x1F680));
        Path project = work.resolve(rocket + " project.xml");
        c.equal(0, conf.OpenProjectDocumentIF(project.toString()), "open a new project at a non-BMP path");
        c.equal(0, conf.SetProjectConfigFilenameEntryIF(rocket + ".cfg"), "non-BMP entry text");
        c.equal(0, conf.CloseProjectDocumentIF(true), "save at a non-BMP path");
        c.check(Files.exists(project), "the project is where Java said");
        String saved = Files.exists(project) ? Files.readString(project, StandardCharsets.UTF_8) : "";
        c.check(saved.contains(rocket + ".cfg"), "the entry holds the character as UTF-8: " + saved);
    }

    // Each native hands its call to the project document, whose status codes
    // tests/config pins; here the entries must arrive and build.
    static void editProject(Checks c, Configurator conf, String project) {
        c.equal(0, conf.OpenProjectDocumentIF(project), "a missing project opens as a new one");
        c.equal(0, conf.SetProjectConfigFilenameEntryIF("java.cfg"), "output name");
        c.equal(0, conf.SetProjectSystemEntryIF("TavisDevice", "true", false), "TavisDevice");
        c.equal(0, conf.SetProjectSystemEntryIF("Key", "JAVA-KEY-7", true), "Key");

        c.equal(0, conf.AddProjectDeviceIF(), "device 0");
        c.equal(0, conf.SetProjectDeviceConfigurationEntryIF(0, "Name", "Application", false), "Name");
        c.equal(0, conf.AddProjectDeviceConfigurationEntryIF(0, "Log", "from Java", false), "Log");
        c.equal(0, conf.SetProjectDeviceConversionEntryIF(0, "ConversionType", "SRECToBrekXML"), "type");
        c.equal(0, conf.SetProjectDeviceConversionEntryIF(0, "DataFilename", "firmware.s19"), "data");
        c.equal(0, conf.SetProjectDeviceConversionEntryIF(0, "AddressRangeSelection", ""), "range");
        // Only the first region: from 0x10000 up to the record at 0x20000.
        c.equal(0, conf.SetProjectDeviceConversionEntryAttributeIF(
                0, "AddressRangeSelection", "IncludeAddr", "0x10000"), "IncludeAddr");
        c.equal(0, conf.SetProjectDeviceConversionEntryAttributeIF(
                0, "AddressRangeSelection", "ExcludeAddr", "0x20000"), "ExcludeAddr");

        c.equal(0, conf.AddProjectDeviceIF(), "device 1");
        c.equal(0, conf.SetProjectDeviceConfigurationEntryIF(1, "Name", "Parameters", true), "Name");
        c.equal(0, conf.SetProjectDeviceConversionEntryIF(1, "ConversionType", "File"), "type");
        c.equal(0, conf.SetProjectDeviceConversionEntryIF(1, "DataFilename", "parameters.bin"), "data");

        c.equal(ALREADY_OPEN, conf.CreateConfigFileIF(project), "no build while the project is open");
        c.equal(0, conf.CloseProjectDocumentIF(true), "save");
        c.check(new File(project).isFile(), "project written");
    }

    static void build(Checks c, Configurator conf, String project, Path output) throws Exception {
        c.equal(0, conf.CreateConfigFileIF(project), "CreateConfigFileIF");
        c.check(Files.isRegularFile(output), "output exists");
        if (!Files.isRegularFile(output)) return;
        byte[] bytes = Files.readAllBytes(output);
        c.check(bytes.length > 4 && (bytes[0] & 0xFF) == 0x55 && (bytes[1] & 0xFF) == 0xAA
                && bytes[2] == 0x02 && (bytes[3] & 0xFF) == 0xFF, "magic number 55 AA 02 FF");
        c.equal(0, conf.OpenProjectDocumentIF(project), "the build closed the project again");
        c.equal(0, conf.CloseProjectDocumentIF(false), "close without saving");

        String tool = System.getProperty("korvo.tool");
        c.check(tool != null && new File(tool).canExecute(), "korvo tool available");
        if (tool == null) return;
        Process p = new ProcessBuilder(tool, "inspect", output.toString())
                .redirectErrorStream(true).start();
        String text = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        c.equal(0, p.waitFor(), "korvo inspect exit code");
        c.check(text.contains("JAVA-KEY-7"), "system entry in the configuration: " + text);
        c.check(text.contains("00010000-00010c00"), "range of the first region only");
        c.check(text.contains("from Java"), "log entry copied");
        c.check(text.contains("FILE"), "raw file device");
    }

    static void failingBuildKeepsOutput(Checks c, Configurator conf, String project, Path output)
            throws IOException {
        byte[] before = Files.readAllBytes(output);
        c.equal(0, conf.OpenProjectDocumentIF(project), "reopen");
        c.equal(0, conf.SetProjectDeviceConversionEntryIF(1, "ConversionType", "Unknown"), "bad type");
        c.equal(0, conf.CloseProjectDocumentIF(true), "save");
        c.equal(UNKNOWN_CONVERSION, conf.CreateConfigFileIF(project), "unknown ConversionType");
        c.check(Arrays.equals(before, Files.readAllBytes(output)), "existing output untouched");
        try (Stream<Path> files = Files.list(output.getParent())) {
            c.equal(0L, files.filter(f -> f.getFileName().toString().contains("~")).count(),
                    "no temporary file beside the output");
        }
    }

    static void deleteTree(Path root) throws IOException {
        if (!Files.exists(root)) return;
        try (Stream<Path> walk = Files.walk(root)) {
            walk.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }
}
