package configurator;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Arrays;

import korvotest.Checks;
import quarnel.firmwaredownload.Configurator;

/** A project built entry by entry through the Configurator natives (codes: tests/config), then built. */
public final class ConfiguratorTest {
    public static void main(String[] args) throws Exception {
        Checks c = new Checks("Configurator");
        Path work = Paths.get("configurator-test-work").toAbsolutePath();
        Checks.removeTree(work);
        Files.createDirectories(work);
        Path examples = Paths.get(System.getProperty("korvo.source"), "examples");
        for (String name : new String[] {"firmware.s19", "parameters.bin"}) Files.copy(examples.resolve(name), work.resolve(name));
        String project = work.resolve("project.xml").toString();
        Path output = work.resolve("java.cfg");
        Configurator conf = new Configurator();

        // A missing project opens as a new one. Device 0: only the first
        // region, from 0x10000 up to the record at 0x20000.
        c.equal(0, conf.OpenProjectDocumentIF(project) | conf.SetProjectConfigFilenameEntryIF("java.cfg")
                   | conf.SetProjectSystemEntryIF("TavisDevice", "true", false)
                   | conf.SetProjectSystemEntryIF("Key", "JAVA-KEY-7", true)
                   | conf.AddProjectDeviceIF()
                   | conf.SetProjectDeviceConfigurationEntryIF(0, "Name", "Application", false)
                   | conf.AddProjectDeviceConfigurationEntryIF(0, "Log", "from Java", false)
                   | conf.SetProjectDeviceConversionEntryIF(0, "ConversionType", "SRECToBrekXML")
                   | conf.SetProjectDeviceConversionEntryIF(0, "DataFilename", "firmware.s19")
                   | conf.SetProjectDeviceConversionEntryIF(0, "AddressRangeSelection", "")
                   | conf.SetProjectDeviceConversionEntryAttributeIF(0, "AddressRangeSelection", "IncludeAddr",
                                                                     "0x10000")
                   | conf.SetProjectDeviceConversionEntryAttributeIF(0, "AddressRangeSelection", "ExcludeAddr",
                                                                     "0x20000")
                   | conf.AddProjectDeviceIF()
                   | conf.SetProjectDeviceConfigurationEntryIF(1, "Name", "Parameters", true)
                   | conf.SetProjectDeviceConversionEntryIF(1, "ConversionType", "File")
                   | conf.SetProjectDeviceConversionEntryIF(1, "DataFilename", "parameters.bin"), "project entries");
        c.equal(-62, conf.CreateConfigFileIF(project), "no build while the project is open");
        c.equal(0, conf.CloseProjectDocumentIF(true), "save");
        String saved = Files.readString(Path.of(project));
        c.check(saved.contains("<Name transparent=\"true\">Parameters</Name>")
                && saved.contains("<Name>Application</Name>") && saved.contains("<Key transparent=\"true\">")
                && saved.contains("<TavisDevice>true</TavisDevice>"), "each entry transparent as asked: " + saved);

        c.equal(0, conf.CreateConfigFileIF(project), "CreateConfigFileIF");
        c.equal(0, conf.OpenProjectDocumentIF(project) | conf.CloseProjectDocumentIF(false),
                "the build closed the project again");
        String text = c.inspect(output);
        for (String part : new String[] {"JAVA-KEY-7", "00010000-00010c00", "from Java", "FILE"}) c.check(text.contains(part), "\"" + part + "\" in: " + text);

        byte[] before = Files.readAllBytes(output);
        c.equal(0, conf.OpenProjectDocumentIF(project)
                   | conf.SetProjectDeviceConversionEntryIF(1, "ConversionType", "Unknown")
                   | conf.CloseProjectDocumentIF(true), "an unknown ConversionType saved");
        c.equal(-52, conf.CreateConfigFileIF(project), "unknown ConversionType");
        c.check(Arrays.equals(before, Files.readAllBytes(output)), "existing output untouched");
        c.noneLeft(work, ".*~.*");

        // Java strings reach the library as UTF-8, not as modified UTF-8.
        String rocket = new String(Character.toChars(0x1F680));
        Path nonBmp = work.resolve(rocket + " project.xml");
        c.equal(0, conf.OpenProjectDocumentIF(nonBmp.toString())
                   | conf.SetProjectConfigFilenameEntryIF(rocket + ".cfg") | conf.CloseProjectDocumentIF(true),
                "a project saved at a non-BMP path");
        String atNonBmp = Files.exists(nonBmp) ? Files.readString(nonBmp) : "<not where Java said>";
        c.check(atNonBmp.contains(rocket + ".cfg"), "the entry holds the character as UTF-8: " + atNonBmp);

        Checks.removeTree(work);
        c.finish();
    }
}
