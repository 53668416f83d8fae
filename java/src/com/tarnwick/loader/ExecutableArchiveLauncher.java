package com.tarnwick.loader;

import com.tarnwick.loader.jar.Handler;

import java.io.File;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.net.URL;
import java.security.CodeSource;
import java.security.ProtectionDomain;
import java.util.List;
import java.util.jar.Manifest;

/**
 * Starts an application packed into the archive that holds the launcher
 * class: its nested archives become the class path of a new class loader, and
 * the main class runs on the calling thread.
 */
public abstract class ExecutableArchiveLauncher {

    /** The manifest attribute that names the application's main class. */
    public static final String START_CLASS_ATTRIBUTE = "Start-Class";

    private Archive archive;

    protected ExecutableArchiveLauncher() {
    }

    /** Which entries of the archive are class-path archives of the application. */
    protected abstract boolean isNestedArchive(Archive.Entry entry);

    /**
     * The archive that holds the launcher class: an executable with an archive
     * appended, or any jar on the class path. Opened on first use, so that
     * making a launcher never fails.
     */
    protected Archive getArchive() throws Exception {
        if (archive == null) {
            archive = JarArchive.of(archiveFile());
        }
        return archive;
    }

    /** The archive file that holds the launcher class: by default its code source. */
    protected File archiveFile() {
        ProtectionDomain domain = getClass().getProtectionDomain();
        CodeSource source = domain == null ? null : domain.getCodeSource();
        URL location = source == null ? null : source.getLocation();
        if (location == null || !"file".equalsIgnoreCase(location.getProtocol())) {
            throw Failures.illegalState("Unable to find the archive that holds " + getClass().getName()
                    + " (code source " + location + ")");
        }
        File file = ZipRoot.toFile(location.toString());
        if (!file.isFile()) {
            throw Failures.illegalState(getClass().getName() + " must be loaded from an archive file, not "
                    + file);
        }
        return file;
    }

    protected List<Archive> getClassPathArchives() throws Exception {
        Archive archive = getArchive();
        if (archive instanceof JarArchive) {
            // Asks this launcher directly: no filter object and no class of its own to load.
            return ((JarArchive) archive).nestedArchives(this);
        }
        // Held as Object until used, so that verifying this class need not load
        // the filter classes.
        Object filter = new Archive.EntryFilter() {
            @Override
            public boolean matches(Archive.Entry entry) {
                return isNestedArchive(entry);
            }
        };
        return archive.getNestedArchives((Archive.EntryFilter) filter);
    }

    /** The main class named by the archive's manifest. */
    protected String getMainClass() throws Exception {
        Manifest manifest = getArchive().getManifest();
        String mainClass = manifest == null ? null : manifest.getMainAttributes().getValue(START_CLASS_ATTRIBUTE);
        if (mainClass == null || mainClass.isEmpty()) {
            throw Failures.illegalState("No '" + START_CLASS_ATTRIBUTE + "' manifest entry specified in "
                    + getArchive());
        }
        return mainClass;
    }

    protected ClassLoader createClassLoader(URL[] urls) throws Exception {
        return new LaunchedURLClassLoader(urls, getClass().getClassLoader());
    }

    /** Builds the class loader over the class-path archives and runs the main class. */
    protected void launch(String[] args) throws Exception {
        // Before any URL of the application exists, so that jar URLs made from
        // text reach the nested-archive handler.
        Handler.register();
        List<Archive> archives = getClassPathArchives();
        URL[] urls = new URL[archives.size()];
        for (int i = 0; i < urls.length; i++) {
            urls[i] = archives.get(i).getUrl();
        }
        ClassLoader classLoader = createClassLoader(urls);
        launch(args, getMainClass(), classLoader);
    }

    /**
     * Runs main(String[]) of the main class with the class loader as the
     * thread's context loader. What main throws is rethrown as it is.
     */
    protected void launch(String[] args, String mainClass, ClassLoader classLoader) throws Exception {
        Thread.currentThread().setContextClassLoader(classLoader);
        Class<?> type = Class.forName(mainClass, false, classLoader);
        Method main = type.getMethod("main", String[].class);
        if (!Modifier.isStatic(main.getModifiers())) {
            throw new NoSuchMethodException("main(String[]) of " + mainClass + " is not static");
        }
        try {
            main.setAccessible(true);
        } catch (RuntimeException e) {
            // A public method of a public class needs no access override.
        }
        try {
            main.invoke(null, new Object[] {args});
        } catch (Exception e) {
            // Tested here rather than caught by type: a caught type is loaded when
            // this class is verified, before anything has gone wrong.
            if (!(e instanceof InvocationTargetException)) {
                throw e;
            }
            Throwable cause = e.getCause();
            if (cause instanceof Exception) {
                throw (Exception) cause;
            }
            if (cause instanceof Error) {
                throw (Error) cause;
            }
            throw e;
        }
    }
}
