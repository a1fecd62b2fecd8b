"""Finding one's way in a large pipeline's picture: zoom and pan, search, details with the
neighbours lit, links to a component, reload, and the list when the picture is not drawn."""

import random

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from conftest import component, wait_for_nodes


def notebook(count):
    """Step i reads the one before and, every third step, the first: a notebook's imports."""
    return [component("c%d" % i, "step_%d" % i,
                      ([] if i == 0 else ["c%d" % (i - 1)]) + (["c0"] if i > 1 and i % 3 == 0 else []))
            for i in range(count)]


def view_box(browser):
    return [float(part) for part in browser.execute_script(
        "return document.querySelector('#graph svg').getAttribute('viewBox')").split()]


def zoom(browser):
    return float(browser.find_element(By.ID, "graph").get_attribute("data-zoom"))


def lit(browser, kind):
    return sorted(browser.execute_script(
        "return [...document.querySelectorAll('#graph g.node.' + arguments[0] + ' > title')]"
        ".map(t => t.textContent)", kind))


def centre_offset(browser, identifier):
    """How far the component's box centre lies from the picture's centre, in pixels."""
    return browser.execute_script("""
        const hex = [...new TextEncoder().encode(arguments[0])].map(b => b.toString(16).padStart(2, '0')).join('');
        const node = document.getElementById('c-' + hex).getBoundingClientRect();
        const box = document.getElementById('graph').getBoundingClientRect();
        return Math.hypot(node.left + node.width / 2 - (box.left + box.width / 2),
                          node.top + node.height / 2 - (box.top + box.height / 2));""", identifier)


def test_zoom_with_wheel_keys_and_buttons_pan_by_dragging_and_fit(server, browser):
    server.post_pipeline("k1", notebook(120))
    browser.get(server.page_url("k1"))
    wait_for_nodes(browser, 120)
    fitted = zoom(browser)
    assert fitted <= 1

    # The wheel zooms in around the pointer.
    browser.execute_script("""
        const graph = document.getElementById('graph');
        const box = graph.getBoundingClientRect();
        graph.dispatchEvent(new WheelEvent('wheel', {deltaY: -400, clientX: box.left + box.width / 2,
            clientY: box.top + box.height / 2, bubbles: true, cancelable: true}));""")
    wheeled = zoom(browser)
    assert wheeled > fitted * 1.5

    graph = browser.find_element(By.ID, "graph")
    graph.send_keys("-")
    assert zoom(browser) < wheeled
    browser.find_element(By.ID, "zoom-in").click()
    assert abs(zoom(browser) - wheeled) < 0.01

    # Dragging moves the picture with the pointer; arrow keys move it too.
    before = view_box(browser)
    ActionChains(browser).move_to_element(graph).click_and_hold().move_by_offset(-120, -80) \
        .release().perform()
    after = view_box(browser)
    assert after[0] > before[0] and after[1] > before[1] and after[2:] == before[2:]
    graph.send_keys(Keys.ARROW_LEFT)
    assert view_box(browser)[0] < after[0]

    browser.find_element(By.ID, "fit-button").click()
    assert abs(zoom(browser) - fitted) < 0.001


def test_search_centres_a_component_whose_details_link_to_its_neighbours(server, browser):
    server.post_pipeline("k1", notebook(300))
    browser.get(server.page_url("k1"))
    wait_for_nodes(browser, 300)

    search = browser.find_element(By.ID, "component-search")
    search.send_keys("step_24")
    results = browser.execute_script(
        "return [...document.querySelectorAll('#search-results .search-result')].map(b => b.dataset.identifier)")
    assert results == ["c24", "c240", "c241", "c242", "c243", "c244", "c245", "c246", "c247",
                       "c248", "c249"]
    search.send_keys(Keys.ENTER)

    details = browser.find_element(By.ID, "details")
    WebDriverWait(browser, 5).until(lambda d: details.is_displayed())
    assert browser.find_element(By.ID, "details-name").text == "step_24"
    assert browser.find_element(By.ID, "details-id").text == "c24"
    assert browser.find_element(By.ID, "details-status").text == "successful"
    assert browser.find_element(By.ID, "details-code").text == "c24 = step()"
    assert centre_offset(browser, "c24") < 3
    assert zoom(browser) >= 1
    # It reads c23 and the first (that edge is implied by the chain and not drawn, yet listed
    # and lit); c25 reads it.
    assert lit(browser, "selected") == ["c24"]
    assert lit(browser, "parent") == ["c0", "c23"]
    assert lit(browser, "child") == ["c25"]
    parents = [link.text for link in browser.find_elements(By.CSS_SELECTOR, "#details-parents a")]
    assert sorted(parents) == ["step_0", "step_23"]
    assert browser.current_url.endswith("#component=c24")

    # A neighbour's link opens that one.
    browser.find_element(By.CSS_SELECTOR, "#details-children a").click()
    assert browser.find_element(By.ID, "details-id").text == "c25"
    assert lit(browser, "selected") == ["c25"] and lit(browser, "parent") == ["c24"]
    assert centre_offset(browser, "c25") < 3
    assert browser.current_url.endswith("#component=c25")

    # Escape in the picture lets go of it.
    browser.find_element(By.ID, "graph").send_keys(Keys.ESCAPE)
    assert not details.is_displayed() and lit(browser, "selected") == []
    assert "#component" not in browser.current_url


def test_a_click_opens_the_details_with_the_cache_size(server, browser):
    cache = server.temp / "pipelines" / "p" / "load"
    cache.mkdir(parents=True)
    (cache / "data.bin").write_bytes(b"x" * 150000)
    server.post_pipeline("k1", [
        component("load", "load_raw_data", cache="cached", cache_dir=str(cache)),
        component("clean", "clean_columns", ["load"]),
        component("plot", "plot", ["clean", "ghost"])])
    browser.get(server.page_url("k1"))
    wait_for_nodes(browser, 4)
    node = browser.find_element(By.CSS_SELECTOR, "#graph g.node[id='c-%s']" % "load".encode().hex())
    ActionChains(browser).move_to_element(node).click().perform()
    WebDriverWait(browser, 5).until(
        lambda d: d.find_element(By.ID, "details-size").text == "146.5 KiB")
    assert browser.find_element(By.ID, "details-cache").text == "cached"
    assert lit(browser, "child") == ["clean"] and lit(browser, "parent") == []

    # A missing parent is listed as such.
    browser.find_element(By.ID, "component-search").send_keys("plot", Keys.ENTER)
    assert sorted(a.text for a in browser.find_elements(By.CSS_SELECTOR, "#details-parents a")) == \
        ["clean_columns", "ghost (missing)"]
    assert browser.find_element(By.ID, "details-size").text == "no cache folder"


def test_a_link_and_a_reload_open_the_same_component_without_the_token_in_sight(server, browser):
    server.post_pipeline("k1", notebook(40))
    # ".../view" without its slash leads to the page.
    browser.get(server.page_url("k1").replace("view/?", "view?") + "#component=c17")
    wait_for_nodes(browser, 40)
    WebDriverWait(browser, 5).until(
        lambda d: d.find_element(By.ID, "details-id").text == "c17")
    assert "/view/?kernel_id=k1#component=c17" in browser.current_url
    assert "token" not in browser.current_url

    browser.find_element(By.ID, "component-search").send_keys("step_33", Keys.ENTER)
    browser.refresh()
    wait_for_nodes(browser, 40)
    WebDriverWait(browser, 5).until(
        lambda d: d.find_element(By.ID, "details-id").text == "c33")
    assert lit(browser, "selected") == ["c33"]
    assert browser.execute_script("return document.cookie") == ""
    assert server.token not in browser.current_url


def test_a_pipeline_too_large_to_draw_is_listed_with_the_reason(server, browser):
    # Each step reads three random earlier ones: no layout of 3,000 fits the bound.
    chooser = random.Random(23)
    components = [component("c%d" % i, "step_%d" % i,
                            sorted({"c%d" % chooser.randrange(i) for _ in range(3)}) if i else [])
                  for i in range(3000)]
    server.post_pipeline("big", components)
    server.post_pipeline("small", notebook(3))
    browser.get(server.page_url("big") + "#component=c2999")

    WebDriverWait(browser, 30).until(
        lambda d: d.find_element(By.ID, "component-fallback").is_displayed())
    reason = browser.find_element(By.ID, "fallback-reason").text
    assert reason == ("The pipeline is not drawn: its layout stopped because it took more than "
                      "2 s. Its components are listed instead.")
    assert len(browser.find_elements(By.CSS_SELECTOR, "#fallback-list li")) == 3000
    # The component of the link is open, and search and links work in the list.
    assert browser.find_element(By.ID, "details-id").text == "c2999"
    browser.find_element(By.ID, "component-search").send_keys("step_1234", Keys.ENTER)
    assert browser.find_element(By.ID, "details-id").text == "c1234"
    assert browser.find_element(By.CSS_SELECTOR, "#fallback-list li.selected").get_attribute(
        "data-identifier") == "c1234"

    # Another kernel's picture is drawn as usual.
    browser.find_element(By.CSS_SELECTOR, '#kernel-list li[data-kernel-id="small"] a').click()
    wait_for_nodes(browser, 3)
    assert not browser.find_element(By.ID, "component-fallback").is_displayed()
